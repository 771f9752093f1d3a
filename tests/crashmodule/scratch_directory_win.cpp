#include "scratch_directory_win.h"

#include <windows.h>

#include <fstream>
#include <sstream>

ScratchDirectory::ScratchDirectory() {
  char buffer[MAX_PATH];
  GetCurrentDirectoryA(sizeof buffer, buffer);
  previous_ = buffer;
  GetTempPathA(sizeof buffer, buffer);
  static int counter = 0;
  path_ = std::string(buffer) + "vxmodule-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(++counter);
  CreateDirectoryA(path_.c_str(), nullptr);
  SetCurrentDirectoryA(path_.c_str());
}

ScratchDirectory::~ScratchDirectory() {
  SetCurrentDirectoryA(previous_.c_str());
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA((path_ + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path_.c_str());
}

void ScratchDirectory::Write(const char* name, const std::string& contents) const {
  std::ofstream out(path_ + "\\" + name, std::ios::binary);
  out << contents;
}

std::string ScratchDirectory::Read(const char* name) const {
  std::ifstream in(path_ + "\\" + name, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

// Test-only Windows program that writes the minidumps under tests/collector/data/, so that the
// collector's readers are tested on what the platform's dump writer really produces.
//
//   make_dump crash OUT.dmp OUT.expect [SCREENSHOT.jpg]
//       starts three idle threads, faults on the main thread, and from the unhandled-exception
//       filter writes a MiniDumpNormal dump with exception information and all five user streams.
//   make_dump user OUT.dmp OUT.expect
//       writes a MiniDumpFilterMemory dump of the running process, without exception information,
//       with the extra-information stream only (what a dump asked for by a log level looks like).
//
// OUT.expect records, one "name value" per line, what the process itself knew, so that a test can
// compare the reader's findings with the truth and not with a second reading of the same bytes.
//
// Build and run (from the repository root):
//   x86_64-w64-mingw32-g++ -O1 -static -o build/make_dump.exe tests/collector/make_dump.cpp -ldbghelp
//   d=tests/collector/data
//   tools/wine64-run build/make_dump.exe crash $d/crash.dmp $d/crash.expect $d/screenshot.jpg
//   tools/wine64-run build/make_dump.exe user $d/user.dmp $d/user.expect
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The user stream types the crash reporter writes.
constexpr ULONG kExtraInfo = 0x10001;
constexpr ULONG kScreenshot = 0x10002;
constexpr ULONG kUserInfo1 = 0x10003;
constexpr ULONG kUserInfo2 = 0x10004;
constexpr ULONG kUserInfo3 = 0x10005;

// GBK bytes among ASCII, as the crash reporter's texts are; text 2 is left blank, which gives a
// stream of length 0.
const char kExtraText[] = "[\xB5\xF7\xCA\xD4] Exception at frame 1024 \"quote\" back\\slash\ttab";
const char kUserText1[] = "I pressed fire";
const char kUserText2[] = "";
const char kUserText3[] = "\xD3\xCE\xCF\xB7\xB1\xC0\xC0\xA3\r\nsecond line";

const char* g_dump_path;
const char* g_expect_path;
std::vector<char> g_jpeg;
DWORD g_worker_ids[3];

std::string Hex(const void* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out.empty() ? std::string("-") : out;
}

bool ReadWhole(const char* path, std::vector<char>* out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

void AddStream(std::vector<MINIDUMP_USER_STREAM>* streams, ULONG type, const void* data, ULONG size) {
  MINIDUMP_USER_STREAM s;
  s.Type = type;
  s.BufferSize = size;
  s.Buffer = const_cast<void*>(data);
  streams->push_back(s);
}

bool WriteDump(EXCEPTION_POINTERS* pointers, MINIDUMP_TYPE type,
               const std::vector<MINIDUMP_USER_STREAM>& streams) {
  HANDLE file = CreateFileA(g_dump_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  MINIDUMP_EXCEPTION_INFORMATION info;
  info.ThreadId = GetCurrentThreadId();
  info.ExceptionPointers = pointers;
  info.ClientPointers = TRUE;
  MINIDUMP_USER_STREAM_INFORMATION user;
  user.UserStreamCount = static_cast<ULONG>(streams.size());
  user.UserStreamArray = const_cast<MINIDUMP_USER_STREAM*>(streams.data());
  BOOL ok = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, type,
                              pointers ? &info : nullptr, streams.empty() ? nullptr : &user, nullptr);
  CloseHandle(file);
  return ok != FALSE;
}

void WriteExpect(EXCEPTION_POINTERS* pointers, const std::vector<MINIDUMP_USER_STREAM>& streams) {
  FILE* f = std::fopen(g_expect_path, "w");
  if (!f) return;
  std::fprintf(f, "thread_id %lu\n", GetCurrentThreadId());
  for (DWORD id : g_worker_ids) {
    if (id) std::fprintf(f, "thread_id %lu\n", id);
  }
  if (pointers) {
    std::fprintf(f, "exception_thread %lu\n", GetCurrentThreadId());
    std::fprintf(f, "exception_code %lu\n", pointers->ExceptionRecord->ExceptionCode);
    std::fprintf(f, "exception_address %llu\n",
                 static_cast<unsigned long long>(
                     reinterpret_cast<ULONG_PTR>(pointers->ExceptionRecord->ExceptionAddress)));
  }
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::fprintf(f, "module_hex %s\n", Hex(exe, n).c_str());
  for (const MINIDUMP_USER_STREAM& s : streams) {
    std::fprintf(f, "stream %lu %s\n", static_cast<unsigned long>(s.Type), Hex(s.Buffer, s.BufferSize).c_str());
  }
  std::fclose(f);
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
  std::vector<MINIDUMP_USER_STREAM> streams;
  AddStream(&streams, kExtraInfo, kExtraText, sizeof kExtraText - 1);
  if (!g_jpeg.empty()) AddStream(&streams, kScreenshot, g_jpeg.data(), static_cast<ULONG>(g_jpeg.size()));
  AddStream(&streams, kUserInfo1, kUserText1, sizeof kUserText1 - 1);
  AddStream(&streams, kUserInfo2, kUserText2, sizeof kUserText2 - 1);
  AddStream(&streams, kUserInfo3, kUserText3, sizeof kUserText3 - 1);
  bool ok = WriteDump(pointers, MiniDumpNormal, streams);
  WriteExpect(pointers, streams);
  ExitProcess(ok ? 0 : 3);
}

DWORD WINAPI IdleThread(void*) {
  Sleep(INFINITE);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_dump crash|user OUT.dmp OUT.expect [SCREENSHOT.jpg]\n");
    return 2;
  }
  g_dump_path = argv[2];
  g_expect_path = argv[3];
  if (std::strcmp(argv[1], "user") == 0) {
    std::vector<MINIDUMP_USER_STREAM> streams;
    AddStream(&streams, kExtraInfo, kExtraText, sizeof kExtraText - 1);
    bool ok = WriteDump(nullptr, MiniDumpFilterMemory, streams);
    WriteExpect(nullptr, streams);
    return ok ? 0 : 3;
  }
  if (argc > 4 && !ReadWhole(argv[4], &g_jpeg)) {
    std::fprintf(stderr, "cannot read %s\n", argv[4]);
    return 2;
  }
  for (DWORD& id : g_worker_ids) CloseHandle(CreateThread(nullptr, 0, IdleThread, nullptr, 0, &id));
  Sleep(100);  // let the threads reach their wait, so that each has a stack to dump
  SetUnhandledExceptionFilter(CrashFilter);
  volatile int* null_pointer = nullptr;
  *null_pointer = 1;  // the access violation the dump is about
  return 4;
}

// A fresh, empty directory made the current one for the life of the object; the settings files
// and the log file of a test live there.
#pragma once

#include <string>

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  void Write(const char* name, const std::string& contents) const;
  // The file's bytes, or "<missing>".
  std::string Read(const char* name) const;

 private:
  std::string path_;
  std::string previous_;
};

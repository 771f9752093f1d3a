#include "output_files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace collector {
namespace {

// Gives up after this many names in use: something else is wrong with the folder then.
constexpr unsigned kMaxNameTries = 100000;

std::string Numbered(const std::string& dir, const std::string& prefix, unsigned n, const std::string& suffix) {
  return dir + "/" + prefix + std::to_string(n) + suffix;
}

bool WriteAll(int fd, Bytes bytes) {
  size_t done = 0;
  while (done < bytes.size) {
    ssize_t n = write(fd, bytes.data + done, bytes.size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes to an already opened descriptor and closes it; removes the file when writing failed.
bool FinishFile(int fd, const std::string& path, Bytes bytes, std::string* error) {
  bool ok = WriteAll(fd, bytes);
  if (!ok) *error = path + ": " + std::strerror(errno);
  if (close(fd) != 0 && ok) {
    ok = false;
    *error = path + ": " + std::strerror(errno);
  }
  if (!ok) unlink(path.c_str());
  return ok;
}

}  // namespace

bool MakeDirectories(const std::string& path, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = part + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = path + ": not a folder";
    return false;
  }
  return true;
}

std::string AbsolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool WriteWholeFile(const std::string& path, Bytes bytes, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  return FinishFile(fd, path, bytes, error);
}

std::string CreateNumberedFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                               Bytes bytes, unsigned* next, std::string* error) {
  for (unsigned tries = 0; tries < kMaxNameTries; ++tries, ++*next) {
    std::string path = Numbered(dir, prefix, *next, suffix);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      *error = path + ": " + std::strerror(errno);
      return std::string();
    }
    ++*next;
    return FinishFile(fd, path, bytes, error) ? path : std::string();
  }
  *error = dir + ": no free name for " + prefix;
  return std::string();
}

std::string CreateNumberedDirectory(const std::string& dir, const std::string& prefix, unsigned* next,
                                    std::string* error) {
  for (unsigned tries = 0; tries < kMaxNameTries; ++tries, ++*next) {
    std::string path = Numbered(dir, prefix, *next, "");
    if (mkdir(path.c_str(), 0755) == 0) {
      ++*next;
      return path;
    }
    if (errno != EEXIST) {
      *error = path + ": " + std::strerror(errno);
      return std::string();
    }
  }
  *error = dir + ": no free name for " + prefix;
  return std::string();
}

}  // namespace collector

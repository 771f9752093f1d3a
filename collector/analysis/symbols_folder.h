// The symbols folder: the studio's own builds of its modules, PE files with DWARF (MinGW -g) or
// with their PDB beside them, found by the crashed module's file name. A file of the right name
// from another build is still used, since a developer often has only the nearest build at hand,
// but it is marked and a note says so: its unwind tables and lines may not fit the crash.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crash_analysis.h"
#include "pe_image.h"

namespace collector {

struct ModuleBinary {
  std::string path;                      // the file found; empty when there is none
  std::shared_ptr<const PeImage> image;  // null when there is no usable file
  bool mismatch = false;                 // the file is from another build than the crashed module
};

// Files larger than this are not read: no game binary is near it, and it bounds our memory.
constexpr uint64_t kMaxBinaryBytes = uint64_t{1} << 30;

class SymbolsFolder {
 public:
  // An empty folder name finds nothing.
  explicit SymbolsFolder(std::string folder) : folder_(std::move(folder)) {}

  // Looks in the folder itself (names compared without case, as Windows does) and in the layout of
  // Microsoft's symbol server, NAME/TIMESTAMPSIZE/NAME. Problems with the file go to `notes`.
  ModuleBinary Find(const AnalyzedModule& module, std::vector<std::string>* notes);

 private:
  std::string Locate(const AnalyzedModule& module);
  void ListOnce();

  std::string folder_;
  bool listed_ = false;
  std::map<std::string, std::string> by_lower_name_;              // file name in lower case -> path
  std::map<std::string, std::shared_ptr<const PeImage>> loaded_;  // path -> image, null if unusable
};

// Whether a PE file is the build the crashed module was loaded from: the same PDB signature and age
// when both have one, else the same time stamp and image size. A module that says nothing (a crash
// summary without them) matches any file.
bool SameBuild(const AnalyzedModule& module, const PeImage& image);

}  // namespace collector

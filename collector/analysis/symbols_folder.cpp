#include "symbols_folder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "module_kinds.h"

namespace collector {
namespace {

namespace fs = std::filesystem;

// A debug id of the CodeView form is the GUID's 32 digits and the age; the other form has at most 16.
constexpr size_t kCodeViewDebugIdMinLength = 33;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* problem) {
  std::error_code error;
  uint64_t size = fs::file_size(path, error);
  if (error) {
    *problem = error.message();
    return false;
  }
  if (size > kMaxBinaryBytes) {
    *problem = "larger than " + std::to_string(kMaxBinaryBytes) + " bytes";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  out->resize(size);
  if (!in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(size))) {
    *problem = "could not be read";
    return false;
  }
  return true;
}

}  // namespace

bool SameBuild(const AnalyzedModule& module, const PeImage& image) {
  if (module.debug_id.size() >= kCodeViewDebugIdMinLength && image.codeview().present) {
    return module.debug_id == DebugId(image.codeview(), image.time_stamp(), image.size_of_image());
  }
  if (module.time_stamp == 0 && module.size == 0) return true;
  return module.time_stamp == image.time_stamp() && module.size == image.size_of_image();
}

void SymbolsFolder::ListOnce() {
  if (listed_ || folder_.empty()) return;
  listed_ = true;
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) by_lower_name_[LowerAscii(it->path().filename().string())] = it->path().string();
  }
}

std::string SymbolsFolder::Locate(const AnalyzedModule& module) {
  if (folder_.empty() || module.name.empty()) return "";
  char build[32];
  snprintf(build, sizeof build, "%08X%X", module.time_stamp, static_cast<unsigned>(module.size));
  std::error_code error;
  fs::path store = fs::path(folder_) / module.name / build / module.name;
  if (fs::is_regular_file(store, error)) return store.string();
  ListOnce();
  auto found = by_lower_name_.find(LowerAscii(module.name));
  return found == by_lower_name_.end() ? "" : found->second;
}

ModuleBinary SymbolsFolder::Find(const AnalyzedModule& module, std::vector<std::string>* notes) {
  ModuleBinary binary;
  binary.path = Locate(module);
  if (binary.path.empty()) return binary;
  auto cached = loaded_.find(binary.path);
  if (cached == loaded_.end()) {
    std::vector<uint8_t> bytes;
    std::string problem;
    auto image = std::make_shared<PeImage>();
    if (!ReadWholeFile(binary.path, &bytes, &problem) || !image->Load(std::move(bytes), &problem)) {
      notes->push_back(binary.path + ": " + problem);
      image = nullptr;
    }
    cached = loaded_.emplace(binary.path, image).first;
  }
  binary.image = cached->second;
  if (binary.image && !SameBuild(module, *binary.image)) {
    binary.mismatch = true;
    notes->push_back(module.name + ": " + binary.path + " is from another build (time stamp, size or PDB signature " +
                     "differ): its frames and lines may be wrong");
  }
  return binary;
}

}  // namespace collector

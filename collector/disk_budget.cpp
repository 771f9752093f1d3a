#include "disk_budget.h"

#include <filesystem>

namespace collector {

void DiskBudget::CountExisting(const std::string& dir, const std::string& store_path) {
  namespace fs = std::filesystem;
  std::error_code error;
  uint64_t total = 0;
  fs::path store = fs::weakly_canonical(store_path, error);
  for (fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, error), end;
       !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    std::string path = fs::weakly_canonical(it->path(), error).string();
    // The store's own files are measured by its writer.
    if (path.rfind(store.string(), 0) == 0) continue;
    total += it->file_size(error);
  }
  files_bytes_ += total;
}

bool DiskBudget::Charge(uint64_t bytes) {
  uint64_t used = files_bytes_.load();
  do {
    if (used + bytes + store_bytes_.load() > budget_) return false;
  } while (!files_bytes_.compare_exchange_weak(used, used + bytes));
  return true;
}

}  // namespace collector

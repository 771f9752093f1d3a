#include "module_map.h"

#include <algorithm>

#include "call_site.h"

namespace collector {
namespace {

// The PE headers take at least the first page of every image and are never executed.
constexpr uint64_t kHeaderPage = 0x1000;
// The longest call instruction, plus a REX prefix.
constexpr uint32_t kCallBytes = 8;

}  // namespace

ModuleMap::ModuleMap(std::vector<MappedModule> modules) : modules_(std::move(modules)) {
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (modules_[i].size > 0) by_base_.push_back(static_cast<int>(i));
  }
  std::sort(by_base_.begin(), by_base_.end(), [&](int a, int b) { return modules_[a].base < modules_[b].base; });
}

int ModuleMap::Find(uint64_t address) const {
  auto after = std::upper_bound(by_base_.begin(), by_base_.end(), address,
                                [&](uint64_t a, int i) { return a < modules_[i].base; });
  if (after == by_base_.begin()) return -1;
  const MappedModule& m = modules_[*(after - 1)];
  return address - m.base < m.size ? *(after - 1) : -1;
}

bool ModuleMap::InCode(uint64_t address) const {
  int index = Find(address);
  if (index < 0) return false;
  const MappedModule& m = modules_[index];
  uint64_t rva = address - m.base;
  if (m.image) return rva <= UINT32_MAX && m.image->IsCode(static_cast<uint32_t>(rva));
  return rva >= kHeaderPage;
}

bool ModuleMap::FollowsCall(uint64_t address) const {
  int index = Find(address);
  if (index < 0) return false;
  const MappedModule& m = modules_[index];
  if (!m.image) return true;
  uint64_t rva = address - m.base;
  return rva <= UINT32_MAX && EndsWithCall(m.image->Before(static_cast<uint32_t>(rva), kCallBytes));
}

}  // namespace collector

// The crashed process's modules by address, with the binary from the symbols folder where there is
// one: what tells the stack walk whether an address is code and whether a call precedes it.
#pragma once

#include <cstdint>
#include <vector>

#include "pe_image.h"

namespace collector {

struct MappedModule {
  uint64_t base = 0;
  uint64_t size = 0;
  const PeImage* image = nullptr;  // null when the symbols folder has no usable file for it
};

class ModuleMap {
 public:
  // `modules` keeps its order: Find gives indexes into it.
  explicit ModuleMap(std::vector<MappedModule> modules);

  // The index of the module that holds `address`, or -1.
  int Find(uint64_t address) const;
  const MappedModule& at(int index) const { return modules_[index]; }

  // Inside a module's code: in an executable section when its binary is at hand, else anywhere
  // past its headers.
  bool InCode(uint64_t address) const;
  // A call instruction ends just before `address`. True when the module's binary is not at hand,
  // since there is nothing to check against.
  bool FollowsCall(uint64_t address) const;

 private:
  std::vector<MappedModule> modules_;
  std::vector<int> by_base_;  // indexes sorted by base address
};

}  // namespace collector

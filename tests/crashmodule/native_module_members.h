// What the native stand-ins of the module's Windows members see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map_profile_reader.h"

// The profile a VXException constructed by a native test reads; empty when null.
extern MapProfileReader* g_test_profile;

struct OutputCall {
  std::string message;
  std::string source;
  std::string level_name;
  uint32_t level;
  uint32_t code_address;
};
extern std::vector<OutputCall> g_output_calls;

// Stand-ins for the crash-capture side of the module in the module's own Wine tests: they record
// what Output and Init hand them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The exit codes with which the stand-in top-level filter ends the process.
constexpr unsigned kFilterReachedByModuleException = 77;
constexpr unsigned kFilterReachedByOther = 78;

struct DumpCall {
  uint32_t kind;
  bool had_exception_pointers;
  std::string last_message;  // LastMessage when the dump was asked for
};

extern std::vector<DumpCall> g_dump_calls;
// Every event of one Output in the order it happened, for the tests of the action order.
extern std::vector<std::string> g_events;

// A helper program run to completion under a time limit: the text for its standard input goes in,
// its standard output comes back. Used for the symbolizer, which must never hold up the collector.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace collector {

struct ChildResult {
  bool started = false;   // false: the program could not be started (`problem` says why)
  bool finished = false;  // it ended by itself within the limit
  int exit_code = -1;     // when it finished; -1 when a signal ended it
  std::string output;     // standard output, at most max_output bytes
  std::string problem;    // empty when it started, finished and exited with 0
};

// Runs argv[0] (searched on PATH when it has no slash) with `input` on its standard input and
// standard error discarded. A program that outlives `timeout_ms` or writes more than `max_output`
// bytes is killed.
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& input, int timeout_ms, size_t max_output);

}  // namespace collector

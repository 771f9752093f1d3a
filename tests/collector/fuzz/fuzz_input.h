// Splitting one fuzzer input into the pieces a target needs, and the check that stops a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace collector_fuzz {

// Zero-terminated texts, split at the input's zero bytes; `count` of them, the missing ones empty.
inline std::vector<std::string> Texts(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> texts(count);
  size_t at = 0;
  for (size_t i = 0; i < count && at <= size; ++i) {
    size_t end = at;
    while (end < size && data[end] != 0) ++end;
    texts[i].assign(reinterpret_cast<const char*>(data) + at, end - at);
    at = end + 1;
  }
  return texts;
}

// A property that must hold for every input: a failure ends the run as a crash, with the input.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace collector_fuzz

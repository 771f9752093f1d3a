// The collector's command line.
#pragma once

#include <cstdint>
#include <string>

namespace collector {

struct Options {
  std::string listen_address = "127.0.0.1";  // the client's default server
  uint16_t listen_port = 12345;  // 0: an ephemeral port, printed in the "listening" line
  std::string out_dir = "collected";
  bool raw = false;
  uint64_t exit_after = 0;  // 0: never
  double idle_timeout = 0;  // seconds; 0: never
};

extern const char kUsage[];

// Fills `options` from argv; false and a message on a bad command line.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

}  // namespace collector

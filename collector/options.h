// The collector's command line.
#pragma once

#include <cstdint>
#include <string>

#include "input_limits.h"

namespace collector {

struct Options {
  std::string listen_address = "127.0.0.1";  // the client's default server
  uint16_t listen_port = 12345;  // 0: an ephemeral port, printed in the "listening" line
  std::string out_dir = "collected";
  bool raw = false;
  uint64_t exit_after = 0;  // 0: never
  double idle_timeout = 0;  // seconds; 0: never

  std::string db_path;  // empty: collector.db inside out_dir
  bool no_store = false;
  bool http = false;
  std::string http_address = "127.0.0.1";  // loopback unless asked: the pages show players' texts
  uint16_t http_port = 0;
  std::string symbols_dir;
  std::string symbolizer = "llvm-symbolizer";

  std::string ingest_file;  // set: add this one file to the store and end
  std::string ingest_machine;

  Limits limits;
};

extern const char kUsage[];

// Fills `options` from argv; false and a message on a bad command line.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// The full description of every option, for --help.
std::string OptionsHelp();

}  // namespace collector

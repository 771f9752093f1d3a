// What the collector does with each datagram it receives: decode, save, print. Independent of the
// socket, so tests hand it datagrams directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bytes.h"

namespace collector {

class Session {
 public:
  // `out_dir` must exist. `emit` receives each output line, without its newline.
  Session(std::string out_dir, bool raw, std::function<void(const std::string&)> emit);

  // Never fails: a bad datagram becomes an "invalid" line.
  void Handle(Bytes datagram);

  uint64_t invalid_count() const { return invalid_count_; }

 private:
  std::string out_dir_;
  bool raw_;
  std::function<void(const std::string&)> emit_;
  uint64_t invalid_count_ = 0;
  unsigned next_blob_ = 1;
  unsigned next_report_ = 1;
};

}  // namespace collector

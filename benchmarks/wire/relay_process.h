// The lossy relay run as a child process, as the benchmark and the tests drive it.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

class RelayProcess {
 public:
  // Starts `program` with the given options and "--forward 127.0.0.1:<forward_port>"; port() is 0
  // when it did not start or never said where it listens.
  RelayProcess(const std::string& program, const std::vector<std::string>& options, int forward_port);
  ~RelayProcess();
  RelayProcess(const RelayProcess&) = delete;
  RelayProcess& operator=(const RelayProcess&) = delete;

  int port() const { return port_; }

  // Ends the relay and returns its counts line (empty when it printed none).
  std::string Stop();

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  int port_ = 0;
};

// A number from the relay's counts line, 0 when the field is not there.
unsigned long long RelayCount(const std::string& counts_line, const char* field);

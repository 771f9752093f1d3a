#include "relay_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

RelayProcess::RelayProcess(const std::string& program, const std::vector<std::string>& options, int forward_port) {
  int out[2];
  if (pipe(out) != 0) return;
  std::vector<std::string> args = {program, "--forward", "127.0.0.1:" + std::to_string(forward_port)};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  output_ = fdopen(out[0], "r");
  char line[256];
  if (pid_ > 0 && output_ && std::fgets(line, sizeof line, output_)) {
    std::sscanf(line, "{\"event\":\"listening\",\"port\":%d", &port_);
  }
}

RelayProcess::~RelayProcess() { Stop(); }

std::string RelayProcess::Stop() {
  std::string counts;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    char line[512];
    if (output_ && std::fgets(line, sizeof line, output_)) counts = line;
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (output_) std::fclose(output_);
  output_ = nullptr;
  return counts;
}

unsigned long long RelayCount(const std::string& counts_line, const char* field) {
  const std::string key = std::string("\"") + field + "\":";
  const size_t at = counts_line.find(key);
  return at == std::string::npos ? 0 : std::strtoull(counts_line.c_str() + at + key.size(), nullptr, 10);
}

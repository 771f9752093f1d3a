#include "child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace collector {
namespace {

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// The child's standard input and output are socket pairs rather than pipes so that writing to a
// child that has died can use MSG_NOSIGNAL: a SIGPIPE would end the collector.
bool Channel(int fds[2]) { return socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0; }

class Child {
 public:
  ~Child() {
    if (to_child_ >= 0) close(to_child_);
    if (from_child_ >= 0) close(from_child_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Start(const std::vector<std::string>& argv, std::string* problem) {
    int in[2], out[2];
    if (!Channel(in)) return Fail(problem, "socketpair");
    to_child_ = in[0];
    if (!Channel(out)) {
      close(in[1]);
      return Fail(problem, "socketpair");
    }
    from_child_ = out[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[1]);
    close(out[1]);
    if (error != 0) {
      pid_ = -1;
      *problem = argv[0] + ": " + std::strerror(error);
      return false;
    }
    fcntl(to_child_, F_SETFL, O_NONBLOCK);
    fcntl(from_child_, F_SETFL, O_NONBLOCK);
    return true;
  }

  // Feeds the input and gathers the output until the child closes its output, the time runs out
  // or the output grows too large. True in the first case.
  bool Exchange(const std::string& input, int timeout_ms, size_t max_output, std::string* output,
                std::string* problem) {
    int64_t deadline = NowMs() + timeout_ms;
    size_t written = 0;
    if (input.empty()) CloseInput();
    char buffer[65536];
    for (;;) {
      int64_t left = deadline - NowMs();
      if (left <= 0) return Fail(problem, "no end within " + std::to_string(timeout_ms) + " ms");
      pollfd fds[2] = {{from_child_, POLLIN, 0}, {to_child_, POLLOUT, 0}};
      int count = to_child_ >= 0 ? 2 : 1;
      if (poll(fds, count, static_cast<int>(left)) < 0 && errno != EINTR) return Fail(problem, "poll");
      if (count == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
        ssize_t n = send(to_child_, input.data() + written, input.size() - written, MSG_NOSIGNAL);
        if (n > 0) written += static_cast<size_t>(n);
        // A child that stopped reading still gets the chance to say what it has.
        if (written == input.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) CloseInput();
      }
      if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
        ssize_t n = read(from_child_, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return Fail(problem, "reading its output");
        if (n > 0) output->append(buffer, static_cast<size_t>(n));
        if (output->size() > max_output)
          return Fail(problem, "more than " + std::to_string(max_output) + " bytes of output");
      }
    }
  }

  // Waits for the child that closed its output to exit; false when it does not within the time
  // (the destructor then kills it). The exit code is -1 when a signal ended it.
  bool Wait(int timeout_ms, int* exit_code) {
    int64_t deadline = NowMs() + timeout_ms;
    for (;;) {
      int status = 0;
      pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return true;
      }
      if (done < 0 || NowMs() >= deadline) return false;
      usleep(1000);
    }
  }

 private:
  static bool Fail(std::string* problem, const std::string& why) {
    *problem = why;
    return false;
  }

  void CloseInput() {
    if (to_child_ >= 0) close(to_child_);
    to_child_ = -1;
  }

  pid_t pid_ = -1;
  int to_child_ = -1, from_child_ = -1;
};

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const std::string& input, int timeout_ms,
                     size_t max_output) {
  ChildResult result;
  if (argv.empty()) {
    result.problem = "no program";
    return result;
  }
  Child child;
  if (!child.Start(argv, &result.problem)) return result;
  result.started = true;
  int64_t started = NowMs();
  if (!child.Exchange(input, timeout_ms, max_output, &result.output, &result.problem)) return result;
  int left = static_cast<int>(timeout_ms - (NowMs() - started));
  if (!child.Wait(left > 0 ? left : 0, &result.exit_code)) {
    result.problem = "closed its output but did not exit within " + std::to_string(timeout_ms) + " ms";
    return result;
  }
  result.finished = true;
  if (result.exit_code != 0) result.problem = "exit code " + std::to_string(result.exit_code);
  return result;
}

}  // namespace collector

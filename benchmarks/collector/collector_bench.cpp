// The collector's receiving rate against a raw recvmmsg loop, side by side in one run, with the
// same sendmmsg sender over loopback:
//   1. burst: N 43-byte number reports as fast as the sender goes, to the raw loop, then to the
//      collector (with its store, its lines read from a pipe as a pipeline would); each rate is
//      what arrived over the time from the first send to the last arrival;
//   2. paced: N reports at 0.8 of the raw rate to the collector, which must lose none;
// and the collector's peak resident memory.
//
//   collector_bench --collector build/native/collector/collector [--count 1000000]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kDatagram = 43;
constexpr unsigned kBatch = 64;
constexpr double kQuietSeconds = 1.0;  // nothing more arrives after this long

// A 43-byte KIND_NUMBERS report whose value counts up, as the client builds it.
void Report(uint32_t value, uint8_t* out) {
  const uint8_t header[31] = {0, 0, 0, 1, 0, 0, 0, 1, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
                              'A', 'B', 'C', 'D', 'E', 'F', 0, 1, 44, 0, 20, 0, 7};
  std::memcpy(out, header, sizeof header);
  const uint8_t rest[8] = {0, 0, 0, 8, 0, 20, 0, 5};  // payload length, wire key 0x00140005
  std::memcpy(out + 31, rest, sizeof rest);
  for (int i = 0; i < 4; ++i) out[39 + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Sends `count` reports to `port`; at `per_second` when positive, else as fast as it can.
double Send(uint16_t port, uint64_t count, double per_second) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
  std::vector<uint8_t> bytes(kBatch * kDatagram);
  mmsghdr messages[kBatch];
  iovec vectors[kBatch];
  Clock::time_point start = Clock::now();
  for (uint64_t sent = 0; sent < count;) {
    unsigned n = static_cast<unsigned>(std::min<uint64_t>(kBatch, count - sent));
    for (unsigned i = 0; i < n; ++i) {
      Report(static_cast<uint32_t>(sent + i), &bytes[i * kDatagram]);
      vectors[i] = iovec{&bytes[i * kDatagram], kDatagram};
      messages[i] = mmsghdr{};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    int done = sendmmsg(fd, messages, n, 0);
    if (done > 0) sent += static_cast<uint64_t>(done);
    if (per_second > 0) {
      auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(sent / per_second));
      while (Clock::now() < due) {
      }
    }
  }
  close(fd);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Result {
  uint64_t received = 0;
  double seconds = 0;      // first send to last arrival
  double cpu_seconds = 0;  // what the receiving side used: the machine is shared, so both figures
  double rate() const { return seconds > 0 ? received / seconds : 0; }
  double cpu_us_each() const { return received ? cpu_seconds * 1e6 / received : 0; }
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// User and system time of a live process, from /proc.
double ProcessCpuSeconds(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  char text[1024] = {};
  size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = 0;
  const char* p = std::strrchr(text, ')');  // the command name may hold spaces
  unsigned long utime = 0, stime = 0;
  if (p) std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

// The reference: the plainest loop that takes datagrams off a socket in batches.
Result RawReceiver(uint64_t count) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  int size = 128 << 20;  // as large as the collector's
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  timeval quiet{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof quiet);
  std::atomic<uint64_t> received{0};
  std::atomic<int64_t> last_ns{0};
  double cpu = 0;
  std::thread receiver([&] {
    static uint8_t buffers[kBatch][2048];
    mmsghdr messages[kBatch];
    iovec vectors[kBatch];
    for (;;) {
      for (unsigned i = 0; i < kBatch; ++i) {
        vectors[i] = iovec{buffers[i], sizeof buffers[i]};
        messages[i] = mmsghdr{};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
      }
      int got = recvmmsg(fd, messages, kBatch, MSG_WAITFORONE, nullptr);
      if (got <= 0) break;  // quiet for a second: all there is has arrived
      received += static_cast<uint64_t>(got);
      last_ns = Clock::now().time_since_epoch().count();
      if (received >= count) break;
    }
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  });
  Clock::time_point start = Clock::now();
  Send(ntohs(address.sin_port), count, 0);
  receiver.join();
  close(fd);
  Result r;
  r.received = received;
  r.seconds = std::chrono::duration<double>(Clock::duration(last_ns.load()) - start.time_since_epoch()).count();
  r.cpu_seconds = cpu;
  return r;
}

struct Collector {
  pid_t pid = -1;
  int lines_fd = -1;
  int errors_fd = -1;
  uint16_t port = 0;
  std::string out;
};

Collector StartCollector(const std::string& program) {
  Collector c;
  char tmpl[] = "/tmp/collector_bench_XXXXXX";
  c.out = mkdtemp(tmpl);
  int lines[2], errors[2];
  if (pipe(lines) != 0 || pipe(errors) != 0) std::exit(2);
  c.pid = fork();
  if (c.pid == 0) {
    dup2(lines[1], 1);
    dup2(errors[1], 2);
    execl(program.c_str(), program.c_str(), "--listen", "127.0.0.1:0", "--out", c.out.c_str(), nullptr);
    _exit(127);
  }
  close(lines[1]);
  close(errors[1]);
  c.lines_fd = lines[0];
  c.errors_fd = errors[0];
  fcntl(c.lines_fd, F_SETPIPE_SZ, 1 << 20);
  char first[256] = {};
  size_t at = 0;
  while (at < sizeof first - 1 && read(c.lines_fd, first + at, 1) == 1 && first[at] != '\n') ++at;
  const char* port = std::strstr(first, "\"port\":");
  if (!port) {
    std::fprintf(stderr, "collector_bench: the collector did not start: %s\n", first);
    std::exit(2);
  }
  c.port = static_cast<uint16_t>(std::atoi(port + 7));
  return c;
}

// Peak resident memory of a live process, in KiB.
long PeakKib(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/status";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  }
  std::fclose(f);
  return kib;
}

// Sends to a fresh collector and counts its datagram lines; stops it once nothing more comes.
Result ThroughCollector(const std::string& program, uint64_t count, double per_second, long* peak_kib,
                        std::string* errors) {
  Collector c = StartCollector(program);
  std::atomic<uint64_t> lines{0};
  std::atomic<int64_t> last_ns{0};
  std::thread reader([&] {
    static char buffer[1 << 20];
    for (;;) {
      ssize_t n = read(c.lines_fd, buffer, sizeof buffer);
      if (n <= 0) break;
      uint64_t found = 0;
      for (const char* p = buffer; (p = static_cast<const char*>(std::memchr(p, '\n', buffer + n - p))); ++p) ++found;
      lines += found;
      last_ns = Clock::now().time_since_epoch().count();
    }
  });
  Clock::time_point start = Clock::now();
  Send(c.port, count, per_second);
  for (uint64_t seen = ~0ull; seen != lines.load();) {
    seen = lines.load();
    std::this_thread::sleep_for(std::chrono::duration<double>(kQuietSeconds));
  }
  *peak_kib = PeakKib(c.pid);
  double cpu = ProcessCpuSeconds(c.pid);
  kill(c.pid, SIGTERM);
  int status = 0;
  waitpid(c.pid, &status, 0);
  reader.join();
  char text[4096];
  ssize_t n = read(c.errors_fd, text, sizeof text - 1);
  *errors = n > 0 ? std::string(text, static_cast<size_t>(n)) : "";
  close(c.lines_fd);
  close(c.errors_fd);
  std::system(("rm -rf '" + c.out + "'").c_str());
  Result r;
  r.received = lines;
  r.seconds = std::chrono::duration<double>(Clock::duration(last_ns.load()) - start.time_since_epoch()).count();
  r.cpu_seconds = cpu;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program;
  uint64_t count = 1000000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--collector") == 0) program = argv[i + 1];
    if (std::strcmp(argv[i], "--count") == 0) count = std::strtoull(argv[i + 1], nullptr, 10);
  }
  if (program.empty()) {
    std::fprintf(stderr, "usage: collector_bench --collector PATH [--count N]\n");
    return 2;
  }
  std::printf("%llu reports of %zu bytes over loopback, sendmmsg in batches of %u\n",
              static_cast<unsigned long long>(count), kDatagram, kBatch);
  Result raw = RawReceiver(count);
  std::printf("burst  raw recvmmsg loop  %9llu received  %9.0f /s   cpu %.2f us each\n",
              static_cast<unsigned long long>(raw.received), raw.rate(), raw.cpu_us_each());
  long peak = 0;
  std::string errors;
  Result burst = ThroughCollector(program, count, 0, &peak, &errors);
  std::printf("burst  collector          %9llu received  %9.0f /s   cpu %.2f us each   ratio %.2f   peak memory %ld KiB\n",
              static_cast<unsigned long long>(burst.received), burst.rate(), burst.cpu_us_each(),
              burst.rate() / raw.rate(), peak);
  if (!errors.empty()) std::printf("       collector said: %s", errors.c_str());
  double pace = 0.8 * raw.rate();
  Result paced = ThroughCollector(program, count, pace, &peak, &errors);
  std::printf("paced  collector at %.0f /s  %9llu received  lost %llu   peak memory %ld KiB\n", pace,
              static_cast<unsigned long long>(paced.received),
              static_cast<unsigned long long>(count - std::min(count, paced.received)), peak);
  if (!errors.empty()) std::printf("       collector said: %s", errors.c_str());
  return 0;
}

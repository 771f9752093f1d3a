// How much a report costs the game's thread, against the bare sendto it wraps. Run under Wine
// with standard output sent to /dev/null (the transport echoes every datagram there):
//   tools/bench-client.sh
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "VXIdent.h"

namespace {

constexpr int kSendCalls = 10000;
constexpr int kGatherCalls = 1000000;
// Rounds alternate between the measured calls, so that load from elsewhere on the machine falls on
// both alike; the median and the best round are printed.
constexpr int kRounds = 7;

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / double(frequency.QuadPart);
}

// A socket that receives and is never read: the datagrams have somewhere to go and are dropped
// once its buffer is full, as a busy collector would.
u_short OpenSink(SOCKET& sink) {
  sink = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(sink, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Best(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

double ImmediateCountersPerSecond() {
  double start = Seconds();
  for (int i = 0; i < kSendCalls; ++i) VXIdent_Set_Counter(5, 1, 0);
  return kSendCalls / (Seconds() - start);
}

double GatheredCountersPerSecond() {
  double start = Seconds();
  for (int i = 0; i < kGatherCalls; ++i) VXIdent_Set_Counter(6 + (i & 7), 1, 1);
  return kGatherCalls / (Seconds() - start);
}

double RawSendtoPerSecond(u_short port) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  char datagram[43] = {0, 0, 0, 1, 0, 0, 0, 1};
  double start = Seconds();
  for (int i = 0; i < kSendCalls; ++i) {
    sendto(s, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  double rate = kSendCalls / (Seconds() - start);
  closesocket(s);
  return rate;
}

}  // namespace

int main() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET sink;
  u_short port = OpenSink(sink);
  char conf[128];
  std::snprintf(conf, sizeof conf, "[HVINFO]\r\nServerHost=127.0.0.1:%u\r\nCycleGatherOption=1\r\nClientRepeatSend=0\r\n",
                port);
  HANDLE file = CreateFileA("HVInfo.conf", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written;
  WriteFile(file, conf, DWORD(strlen(conf)), &written, nullptr);
  CloseHandle(file);

  VXIdent_Init();
  VXIdent_Set_Counter(1, 7, 0);
  VXIdent_Set_Counter(3, 20, 0);
  VXIdent_Set_Counter(4, 300, 0);

  VXIdent_Set_Counter(6, 1, 1);  // the first gathered report flushes; later ones stay in the table
  std::vector<double> raw, immediate, ratio, gathered;
  for (int round = 0; round < kRounds; ++round) {
    raw.push_back(RawSendtoPerSecond(port));
    immediate.push_back(ImmediateCountersPerSecond());
    ratio.push_back(immediate.back() / raw.back());
    gathered.push_back(GatheredCountersPerSecond());
  }
  std::fprintf(stderr, "%d rounds of %d sends and %d gathered calls; median (best)\n", kRounds, kSendCalls,
               kGatherCalls);
  std::fprintf(stderr, "raw sendto, 43 bytes:         %9.0f (%9.0f) calls/s\n", Median(raw), Best(raw));
  std::fprintf(stderr, "VXIdent_Set_Counter mode 0:   %9.0f (%9.0f) calls/s\n", Median(immediate), Best(immediate));
  std::fprintf(stderr, "  ratio to raw sendto, per round: median %.2f\n", Median(ratio));
  std::fprintf(stderr, "VXIdent_Set_Counter gathered: %9.1f (%9.1f) ns/call\n", 1e9 / Median(gathered),
               1e9 / Best(gathered));
  closesocket(sink);
  return 0;
}

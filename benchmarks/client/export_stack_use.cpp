// How much of the caller's stack each export uses, measured: every call runs on a fresh thread
// whose stack below the calling frame is painted first; the deepest byte no longer painted
// afterwards is how far the call reached. Beside them, as the reference, a bare sendto of the
// largest datagram from a buffer on the stack, measured the same way, and the stacks that games
// give their threads. Run under Wine from any folder (it works in a temporary one of its own):
//   tools/wine64-run build/win64/bin/export_stack_use.exe
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "VXIdent.h"

namespace {

constexpr unsigned char kPaint = 0xA5;
// Room for the painting function's own frame between the calling frame and the paint.
constexpr size_t kPaintMargin = 1024;
// Deeper than any export may go, and well inside the measuring thread's 1 MiB reservation.
constexpr size_t kPaintDepth = 768 * 1024;
constexpr SIZE_T kThreadStack = 1024 * 1024;
constexpr int kLargestBlob = 64512;
constexpr int kLargestText = 512;
constexpr int kLargestDatagram = 35 + 8 + kLargestBlob;
constexpr int kCycleTableSize = 50;

u_short g_sink_port;
HANDLE g_null_output;

// Written below the caller's frame one byte at a time, downwards, so that on Windows every page
// meets the stack's guard page in order and is committed as the stack grows.
__attribute__((noinline)) void PaintBelow(char* start) {
  volatile char* p = start;
  for (size_t i = 0; i < kPaintDepth; ++i) *--p = char(kPaint);
}

size_t DeepestReach(const char* top) {
  const char* p = top - kPaintMargin - kPaintDepth;
  while (p < top - kPaintMargin && static_cast<unsigned char>(*p) == kPaint) ++p;
  return size_t(top - p);
}

struct Job {
  void (*call)();
  size_t used;
};

__attribute__((noinline)) DWORD WINAPI MeasureOnThisThread(void* arg) {
  Job* job = static_cast<Job*>(arg);
  char* top = static_cast<char*>(__builtin_frame_address(0));
  PaintBelow(top - kPaintMargin);
  job->call();
  job->used = DeepestReach(top);
  return 0;
}

size_t Measure(void (*call)()) {
  Job job = {call, 0};
  HANDLE thread = CreateThread(nullptr, kThreadStack, MeasureOnThisThread, &job,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return job.used;
}

std::vector<char> Pattern(int n) {
  std::vector<char> bytes(size_t(n) + 1, 0);
  for (int i = 0; i < n; ++i) bytes[size_t(i)] = char('a' + i % 26);
  return bytes;
}

// The echo goes to the null device, or nowhere as in a game without a console.
void WithOutput(bool present) { SetStdHandle(STD_OUTPUT_HANDLE, present ? g_null_output : nullptr); }

void Init() { VXIdent_Init(); }
void CounterNow() { VXIdent_Set_Counter(100, 1, VXIDENT_SEND_NOW); }
// The first gathered report of a process flushes the table at once.
void CounterGatheredFlush() { VXIdent_Set_Counter(101, 1, VXIDENT_GATHER); }
void IntNow() { VXIdent_Set_Int(102, 1, VXIDENT_SEND_NOW); }
void IntGathered() { VXIdent_Set_Int(103, 1, VXIDENT_GATHER); }
void LongestText() { VXIdent_Set_Str(104, Pattern(kLargestText + 88).data()); }
void HardwareProfile() { VXIdent_Set_Str(VXIDENT_KEY_HARDWARE_PROFILE, ""); }
void LargestBlob() { VXIdent_Set_Bin(105, Pattern(kLargestBlob).data(), kLargestBlob); }
void FullTableFin() { VXIdent_Fin(); }

void BareSendto() {
  char datagram[kLargestDatagram];
  std::memset(datagram, 1, sizeof datagram);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(g_sink_port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(s, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  closesocket(s);
}

void FillTable() {
  for (int key = 200; VXIdent_Set_Counter(key, 1, VXIDENT_GATHER) == 0 && key < 200 + kCycleTableSize; ++key) {
  }
}

struct Row {
  const char* name;
  const char* call;
  bool output;
  void (*run)();
};

// In the order of a host's life: Init first, the identities, reports, the final flush.
const Row kRows[] = {
    {"VXIdent_Init", "first call: configuration, profile, crash capture", true, Init},
    {"VXIdent_Set_Counter", "sent at once", true, CounterNow},
    {"VXIdent_Set_Counter", "gathered, flushing the table", true, CounterGatheredFlush},
    {"VXIdent_Set_Int", "sent at once", true, IntNow},
    {"VXIdent_Set_Int", "gathered", true, IntGathered},
    {"VXIdent_Set_Str", "600-byte text, 512 sent", true, LongestText},
    {"VXIdent_Set_Str", "key 18: the hardware profile", true, HardwareProfile},
    {"VXIdent_Set_Bin", "64512 bytes, standard output", true, LargestBlob},
    {"VXIdent_Set_Bin", "64512 bytes, no standard output", false, LargestBlob},
    {"VXIdent_Fin", "flushing a full table", true, FullTableFin},
};
constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];

const char* const kExports[] = {"VXIdent_Init",    "VXIdent_Set_Counter", "VXIdent_Set_Int",
                                "VXIdent_Set_Str", "VXIdent_Set_Bin",     "VXIdent_Fin"};

bool MakeWorkFolder() {
  char temp[MAX_PATH];
  char folder[MAX_PATH];
  if (!GetTempPathA(sizeof temp, temp) || !GetTempFileNameA(temp, "vxs", 0, folder)) return false;
  DeleteFileA(folder);
  return CreateDirectoryA(folder, nullptr) && SetCurrentDirectoryA(folder);
}

// A socket that receives and is never read: the datagrams have somewhere to go.
SOCKET OpenSink() {
  SOCKET sink = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(sink, reinterpret_cast<sockaddr*>(&address), &length);
  g_sink_port = ntohs(address.sin_port);
  return sink;
}

void WriteConf() {
  char conf[160];
  std::snprintf(conf, sizeof conf, "[HVINFO]\r\nServerHost=127.0.0.1:%u\r\nCycleGatherOption=1\r\n", g_sink_port);
  HANDLE file = CreateFileA("HVInfo.conf", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written;
  WriteFile(file, conf, DWORD(std::strlen(conf)), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int main() {
  if (!MakeWorkFolder()) {
    std::fprintf(stderr, "no temporary folder to work in\n");
    return 1;
  }
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET sink = OpenSink();
  WriteConf();
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  g_null_output = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);

  size_t used[kRowCount];
  for (size_t i = 0; i < kRowCount; ++i) {
    WithOutput(kRows[i].output);
    used[i] = Measure(kRows[i].run);
    // The identities after Init, and a full table before the flush of Fin.
    if (kRows[i].run == Init) {
      VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY1, 7, VXIDENT_SEND_NOW);
      VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY3, 20, VXIDENT_SEND_NOW);
      VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY4, 300, VXIDENT_SEND_NOW);
    }
    if (i + 2 == kRowCount) FillTable();
  }
  WithOutput(true);
  size_t bare = Measure(BareSendto);
  SetStdHandle(STD_OUTPUT_HANDLE, output);

  std::printf("stack used by each export, in bytes (%s)\n", sizeof(void*) == 8 ? "x86_64" : "i686");
  std::printf("(%zu means at most that: the paint starts %zu bytes below the calling frame)\n", kPaintMargin,
              kPaintMargin);
  for (size_t i = 0; i < kRowCount; ++i) std::printf("  %-20s %-50s %7zu\n", kRows[i].name, kRows[i].call, used[i]);
  std::printf("largest of each export:\n");
  for (const char* name : kExports) {
    size_t most = 0;
    for (size_t i = 0; i < kRowCount; ++i)
      if (std::strcmp(kRows[i].name, name) == 0 && used[i] > most) most = used[i];
    std::printf("  %-20s %7zu (%zu KiB)\n", name, most, (most + 1023) / 1024);
  }
  std::printf("reference:\n");
  std::printf("  %-71s %7zu\n", "bare sendto of a 64555-byte datagram from a buffer on the stack", bare);
  std::printf("  %-71s %7d\n", "a game thread made with a 256 KiB stack", 256 * 1024);
  std::printf("  %-71s %7d\n", "the small stack of the end-to-end test (128 KiB)", 128 * 1024);
  closesocket(sink);
  return 0;
}

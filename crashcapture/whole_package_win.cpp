#include "crashcapture/whole_package_win.h"

#include <new>

#include "client/crc32.h"
#include "crashcapture/crash_state_win.h"
#include "crashcapture/crash_summary_win.h"
#include "crashcapture/crash_watchdog_win.h"

namespace {

constexpr char kPackageFileName[] = "TempDump.vgz";
// USER_TIMER_MINIMUM: the system raises shorter periods to this anyway. The pacing's burst covers
// a tick that comes late.
constexpr UINT kPartTimerMs = 10;
constexpr uint64_t kNoDeadline = ~uint64_t(0);

uint64_t Microseconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return uint64_t(now.QuadPart) * 1000000u / uint64_t(frequency.QuadPart);
}

// The encoder's view of the package file; it holds nothing itself, the handle lives in CrashState.
class PackageFile : public PackageSource {
 public:
  int Read(void* buffer, int size) override {
    DWORD got = 0;
    if (!ReadFile(g_crash_state.whole.file, buffer, DWORD(size), &got, nullptr)) return -1;
    return int(got);
  }
};
PackageFile g_package_file;

bool Rewind(HANDLE file) {
  LARGE_INTEGER zero = {};
  return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) != 0;
}

// The CRC goes in every part, so the whole file is read once before the first part; the package
// was just written, so the reads come from the file cache.
bool PackageCrc(HANDLE file, uint32_t length, uint32_t* crc) {
  uint8_t* buffer = g_crash_state.package_memory.piece;  // free once the package is written
  uint32_t sum = 0, total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, kPackagePieceSize, &got, nullptr)) return false;
    if (got == 0) break;
    sum = Crc32Update(sum, buffer, got);
    total += got;
    NoteCrashProgress();
  }
  *crc = sum;
  return total == length && Rewind(file);
}

void EndWholePackage() {
  WholePackageSend& whole = g_crash_state.whole;
  if (whole.timer != 0) KillTimer(nullptr, whole.timer);
  whole.timer = 0;
  if (whole.file != nullptr && whole.file != INVALID_HANDLE_VALUE) CloseHandle(whole.file);
  whole.file = nullptr;
  if (whole.active) g_crash_state.wire_report.parts_us = Microseconds() - whole.started_us;
  whole.active = false;
}

// Sends parts as the pacing allows until none is left or deadline_us has passed. With may_sleep
// false it sends only what is allowed right now (the timer's tick). The datagram built but not yet
// allowed stays for the next call.
void SendParts(uint64_t deadline_us, bool may_sleep) {
  CrashState& crash = g_crash_state;
  WholePackageSend& whole = crash.whole;
  while (whole.active) {
    if (whole.pending_length == 0) {
      whole.pending_length = whole.encoder->Next(whole.datagram, sizeof whole.datagram);
      if (whole.pending_length <= 0) {
        whole.pending_length = 0;
        EndWholePackage();
        return;
      }
    }
    const uint64_t now = Microseconds();
    const uint64_t wait = PacingWaitMicroseconds(whole.pacing, now, uint32_t(whole.pending_length));
    if (wait > 0) {
      if (!may_sleep || (deadline_us != kNoDeadline && now + wait > deadline_us)) return;
      Sleep(DWORD((wait + 999) / 1000));
      continue;
    }
    crash.transport->send_crash_datagram(whole.datagram, whole.pending_length);
    PacingSpend(whole.pacing, uint32_t(whole.pending_length));
    whole.pending_length = 0;
    ++crash.wire_report.parts_sent;
    NoteCrashProgress();
  }
}

VOID CALLBACK PartTimerTick(HWND, UINT, UINT_PTR, DWORD) { SendParts(Microseconds(), false); }

bool BeginParts(const CrashTransport* transport) {
  CrashState& crash = g_crash_state;
  WholePackageSend& whole = crash.whole;
  const CrashWireSettings settings = transport->crash_wire_settings();
  DatagramIdentity who;
  if (!settings.package_whole || settings.package_rate == 0 || !transport->crash_identity(&who)) return false;
  whole.file = CreateFileA(kPackageFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (whole.file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(whole.file, &size) || size.QuadPart <= 0) return false;
  // A package over the limit goes only as the key-17 blob, cut as it always was: at the configured
  // rate its parts would keep the crashed process alive for longer than the player should wait.
  if (uint64_t(size.QuadPart) > settings.package_limit) {
    crash.wire_report.package_over_limit = true;
    return false;
  }
  PackagePartJob job = {who, kPackagePartParams, CrashWireId(), uint32_t(size.QuadPart), 0};
  if (!PackageCrc(whole.file, job.package_length, &job.package_crc)) return false;
  whole.encoder = new (whole.encoder_place) PackagePartEncoder();  // placement: no allocation
  if (!whole.encoder->Begin(&crash.part_memory, job, &g_package_file)) return false;
  crash.wire_report.parts_total = whole.encoder->total();
  whole.started_us = Microseconds();
  whole.pacing = StartPacing(settings.package_rate, whole.started_us);
  whole.pending_length = 0;
  whole.active = true;
  return true;
}

}  // namespace

void StartWholePackage(const CrashTransport* transport) {
  if (!transport || !BeginParts(transport)) {
    EndWholePackage();
    return;
  }
  SendParts(g_crash_state.whole.started_us + uint64_t(kWholePackageWaitMs) * 1000, true);
  if (g_crash_state.whole.active) g_crash_state.whole.timer = SetTimer(nullptr, 0, kPartTimerMs, PartTimerTick);
}

void FinishWholePackage() {
  WholePackageSend& whole = g_crash_state.whole;
  if (whole.timer != 0) KillTimer(nullptr, whole.timer);
  whole.timer = 0;
  SendParts(kNoDeadline, true);
  EndWholePackage();
}

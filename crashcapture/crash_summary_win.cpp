#include "crashcapture/crash_summary_win.h"

#include <cstring>

#include "crashcapture/crash_id.h"
#include "crashcapture/crash_state_win.h"
#include "crashcapture/crash_watchdog_win.h"
#include "crashcapture/summary_context_win.h"
#include "crashcapture/summary_frames.h"
#include "crashmodule/vx_exception.h"
#include "guard/guard.h"

namespace {

// Every read of the process's memory is a guarded copy: the loader's list may be half-written by a
// frozen thread, and the stack holds whatever the game left there.
class GuardedMemory : public MemoryReader {
 public:
  bool Read(uint64_t address, void* out, size_t size) override {
    if (address == 0 || address + size < address || address + size - 1 > uintptr_t(-1)) return false;
    Copy copy = {reinterpret_cast<const void*>(uintptr_t(address)), out, size};
    return RunGuarded(CopyBytes, &copy);
  }

 private:
  struct Copy {
    const void* from;
    void* to;
    size_t size;
  };
  static void CopyBytes(void* arg) {
    Copy* copy = static_cast<Copy*>(arg);
    std::memcpy(copy->to, copy->from, copy->size);
  }
};

// The committed region that holds the stack pointer reaches up to the stack's base: the stack grows
// down, and everything above the lowest page in use is committed.
uint64_t StackEnd(uint64_t stack_pointer) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(reinterpret_cast<const void*>(uintptr_t(stack_pointer)), &region, sizeof region) == 0) {
    return stack_pointer;
  }
  return uint64_t(uintptr_t(region.BaseAddress)) + region.RegionSize;
}

void ReadException(const EXCEPTION_RECORD& record, CrashSummary* summary) {
  summary->exception_code = record.ExceptionCode;
  summary->exception_flags = record.ExceptionFlags;
  summary->exception_address = uint64_t(uintptr_t(record.ExceptionAddress));
  DWORD count = record.NumberParameters < DWORD(kMaxSummaryParameters) ? record.NumberParameters
                                                                       : DWORD(kMaxSummaryParameters);
  summary->parameter_count = uint8_t(count);
  for (DWORD i = 0; i < count; ++i) summary->parameters[i] = record.ExceptionInformation[i];
}

struct Gathering {
  const EXCEPTION_POINTERS* exception;
  DWORD thread_id;
};

void Gather(void* arg) {
  const Gathering& g = *static_cast<const Gathering*>(arg);
  CrashState& crash = g_crash_state;
  CrashSummary& summary = crash.summary;
  std::memset(&summary, 0, sizeof summary);
  summary.crash_id = CrashWireId();
  summary.thread_id = g.thread_id;
  StackWalkStart start = {};
  ReadFaultContext(*g.exception->ContextRecord, &summary, &start);
  ReadException(*g.exception->ExceptionRecord, &summary);
  start.stack_end = StackEnd(start.stack_pointer);
  GuardedMemory memory;
  GatherModules(memory, CurrentPeb(), ProcessLoaderList(), &crash.summary_modules);
  NoteCrashProgress();
  FindStackCandidates(memory, crash.summary_modules, start, &crash.summary_stack);
  AddModulesAndFrames(crash.summary_modules, crash.summary_stack, &summary);
  NoteCrashProgress();
}

// The host may be writing the line as the crash hits: a torn line is still worth sending.
void ReadLastMessage(void* summary) {
  SetSummaryMessage(g_crash_state.module->GetLastMessage(), kLastMessageSize, static_cast<CrashSummary*>(summary));
}

}  // namespace

uint32_t CrashWireId() {
  CrashWireReport& report = g_crash_state.wire_report;
  if (report.crash_id == 0) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    report.crash_id = MakeCrashId(uint64_t(counter.QuadPart), GetCurrentProcessId(), GetCurrentThreadId());
  }
  return report.crash_id;
}

const CrashWireReport& LastCrashWireReport() { return g_crash_state.wire_report; }

bool SendCrashSummary(const EXCEPTION_POINTERS* exception, DWORD thread_id) {
  CrashState& crash = g_crash_state;
  const CrashTransport* transport = crash.transport;
  if (!transport || !exception || !transport->crash_wire_settings().summary) return false;
  DatagramIdentity who;
  if (!transport->crash_identity(&who)) return false;
  Gathering gathering = {exception, thread_id};
  if (!RunGuarded(Gather, &gathering)) return false;
  if (crash.module && !RunGuarded(ReadLastMessage, &crash.summary)) crash.summary.message[0] = 0;
  const size_t length = BuildCrashSummaryDatagram(crash.summary_datagram, sizeof crash.summary_datagram, who,
                                                  crash.summary);
  if (length == 0) return false;
  transport->send_crash_datagram(crash.summary_datagram, int(length));
  NoteCrashProgress();
  crash.wire_report.summary_bytes = int(length);
  return true;
}

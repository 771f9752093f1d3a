// DumpProgram's work: the minidump with its user streams, the package, the send, the message box
// and, for a crash, the end of the process.
#include <cstring>

#include "crashcapture/crash_capture.h"
#include "crashcapture/crash_exit_win.h"
#include "crashcapture/crash_message.h"
#include "crashcapture/crash_watchdog_win.h"
#include "crashcapture/dump_contents.h"
#include "crashcapture/dump_files_win.h"
#include "crashcapture/crash_state_win.h"
#include "crashcapture/screenshot_win.h"
#include "crashcapture/whole_package_win.h"
#include "crashmodule/vx_exception.h"
#include "guard/guard.h"

namespace {

constexpr char kDumpFileName[] = "TempDump.dmp";
constexpr char kPackageFileName[] = "TempDump.vgz";
constexpr int kWholeScreen = -1;
constexpr int kTitleWideSize = 128;

uint64_t Microseconds() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return uint64_t(now.QuadPart) * 1000000u / uint64_t(frequency.QuadPart);
}

struct DumpRun {
  VXException* module;
  const CrashTransport* transport;
  uint32_t kind;
  EXCEPTION_POINTERS* exception;
  HANDLE dump_file;
  DumpReport* report;
  bool package_made;  // this dump created "TempDump.vgz": only then is it sent
  bool finished;
};

void CallExtraInfo(void* run_ptr) {
  DumpRun* run = static_cast<DumpRun*>(run_ptr);
  DumpFormat* format = run->module->GetDumpFormat(run->kind);
  format->callback(run->module->GetLastMessage(), format);
}

// The host's callback may fault; that costs the extra information, not the whole report.
void AddExtraInfo(DumpRun* run, DumpFormat* format) {
  if (!(format->flags & kDumpExtraInfo) || !format->callback) return;
  RunGuarded(CallExtraInfo, run);
  NoteCrashProgress();
}

int TakeScreenshot(uint32_t flags, unsigned char** jpeg) {
  *jpeg = nullptr;
  int quality = ScreenshotQualityFor(flags);
  if (quality == 0) return 0;
  int size = CaptureScreenshot(jpeg, quality, 0, 0, kWholeScreen, kWholeScreen);
  NoteCrashProgress();
  return size;
}

void AskUser(DumpRun* run, DumpFormat* format, UserInfo* info) {
  memset(info, 0, sizeof *info);
  if (!WantsUserTexts(format->flags)) return;
  BeginUserWindow();
  run->module->ShowUserInfoDialog(format, info);
  EndUserWindow();
}

// The crash worker and the watchdog are the library's, not the game's: in a report they are noise,
// and Wine writes the worker's whole stack reservation.
bool IsLibraryThread(ULONG thread_id) {
  return thread_id != 0 &&
         (thread_id == g_crash_state.worker_id || thread_id == g_crash_state.watchdog_id);
}

// MiniDumpWriteDump gathers the threads and modules before it writes a byte, and on a slow machine
// that silence outlasts the watchdog's stall limit. Its callback comes once per thread and module
// gathered, so each call counts as progress; a writer stuck on a frozen thread's lock stops
// calling and is still taken for a stall. The answers are the ones dbghelp assumes without a
// callback (include every module as it is, add no memory, no cancel checks), except for the
// library's own threads: Windows leaves out a thread for FALSE to IncludeThreadCallback and then
// asks nothing more about it; Wine never asks that, and leaves out a thread for FALSE to
// ThreadCallback instead, so the same answer is given there.
BOOL CALLBACK NoteMinidumpProgress(PVOID, const PMINIDUMP_CALLBACK_INPUT input,
                                   PMINIDUMP_CALLBACK_OUTPUT) {
  NoteCrashProgress();
  switch (input->CallbackType) {
    case IncludeThreadCallback:
      return !IsLibraryThread(input->IncludeThread.ThreadId);
    case ThreadCallback:
      return !IsLibraryThread(input->Thread.ThreadId);
    case ThreadExCallback:
      return !IsLibraryThread(input->ThreadEx.ThreadId);
    case ModuleCallback:
    case IncludeModuleCallback:
      return TRUE;
    default:
      return FALSE;
  }
}

bool WriteMinidump(DumpRun* run, uint32_t type, const UserStreamList& streams) {
  if (!g_crash_state.write_dump) return false;
  MINIDUMP_EXCEPTION_INFORMATION fault_info = {};
  if (run->exception) {
    const DWORD crash_thread = g_crash_state.CrashThreadId;
    fault_info.ThreadId = crash_thread != 0 ? crash_thread : GetCurrentThreadId();
    fault_info.ExceptionPointers = run->exception;
    fault_info.ClientPointers = TRUE;
  }
  MINIDUMP_USER_STREAM records[kMaxUserStreams];
  for (uint32_t i = 0; i < streams.count; ++i) {
    records[i].Type = streams.streams[i].type;
    records[i].BufferSize = streams.streams[i].size;
    records[i].Buffer = const_cast<void*>(streams.streams[i].data);
  }
  MINIDUMP_USER_STREAM_INFORMATION user_info = {streams.count, records};
  MINIDUMP_CALLBACK_INFORMATION progress = {NoteMinidumpProgress, nullptr};
  uint64_t start = Microseconds();
  BOOL ok = g_crash_state.write_dump(GetCurrentProcess(), GetCurrentProcessId(), run->dump_file,
                               MINIDUMP_TYPE(type), run->exception ? &fault_info : nullptr,
                               streams.count > 0 ? &user_info : nullptr, &progress);
  run->report->minidump_us = Microseconds() - start;
  NoteCrashProgress();
  return ok != FALSE;
}

// "wb" through Win32: created or truncated, even when the package cannot then be written.
void WritePackageFile(DumpRun* run) {
  uint64_t start = Microseconds();
  HANDLE package = CreateFileA(kPackageFileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (package == INVALID_HANDLE_VALUE) return;
  run->package_made = true;
  WatchFileGrowth(package);
  LARGE_INTEGER zero = {};
  if (SetFilePointerEx(run->dump_file, zero, nullptr, FILE_BEGIN)) {
    FileSource dump(run->dump_file);
    FileSink sink(package);
    PackageStats stats;
    run->report->package_written =
        WritePackage(&g_crash_state.package_memory, &dump, &sink, &stats);
    run->report->chunks = stats.chunks;
    run->report->minidump_bytes = stats.input_bytes;
    run->report->package_bytes = stats.output_bytes;
  }
  WatchFileGrowth(INVALID_HANDLE_VALUE);
  CloseHandle(package);
  run->report->compress_us = Microseconds() - start;
}

// The package goes out as one blob, cut to what a datagram carries, read back from the file this
// dump wrote.
void SendPackage(DumpRun* run) {
  uint64_t start = Microseconds();
  HANDLE package = CreateFileA(kPackageFileName, GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (package == INVALID_HANDLE_VALUE) return;
  uint8_t* send = g_crash_state.package_memory.send;
  DWORD got = 0;
  if (!ReadFile(package, send, kPackageSendSize, &got, nullptr)) got = 0;
  CloseHandle(package);
  NoteCrashProgress();
  if (run->transport->send_package(send, int(got)) == 0) {
    run->report->sent_bytes = int(got);
  }
  run->report->send_us = Microseconds() - start;
  NoteCrashProgress();
}

void ShowDumpMessage(VXException* module) {
  WCHAR title[kTitleWideSize];
  if (MultiByteToWideChar(CP_ACP, 0, module->GetMessageBoxTitle(), -1, title, kTitleWideSize) <= 0) {
    title[0] = 0;
  }
  BeginUserWindow();
  if (g_crash_state.dump_message[0] != 0) {
    MessageBoxW(nullptr, g_crash_state.dump_message, title, MB_OK);
  } else {
    // No table for code page 936 on this system: the bytes as they are, right on a 936 system.
    MessageBoxA(nullptr, kDumpMessageGbk, module->GetMessageBoxTitle(), MB_OK);
  }
  EndUserWindow();
}

void RunDump(void* run_ptr) {
  DumpRun* run = static_cast<DumpRun*>(run_ptr);
  VXException* module = run->module;
  run->dump_file = CreateFileA(kDumpFileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  module->Trace("DumpProgram CreateFile ok");
  if (run->dump_file == INVALID_HANDLE_VALUE) return;
  WatchFileGrowth(run->dump_file);

  DumpFormat* format = module->GetDumpFormat(run->kind);
  uint32_t type = MinidumpTypeFor(format->flags);
  AddExtraInfo(run, format);
  module->Trace("DumpProgram VXEXCEPTION_DUMPFORMAT_EXTRAINFO ok");
  unsigned char* jpeg = nullptr;
  int jpeg_size = TakeScreenshot(format->flags, &jpeg);
  module->Trace("DumpProgram VXException_DUMPFORMAT_SCREENSHOT ok");
  UserInfo user_info;
  AskUser(run, format, &user_info);
  module->Trace("DumpProgram VXException_DUMPFORMAT_USERINFO ok");

  UserStreamList streams;
  BuildUserStreams(format->flags, module->GetLastMessage(), jpeg, jpeg_size, &user_info, &streams);
  run->report->minidump_written = WriteMinidump(run, type, streams);
  module->Trace("DumpProgram MiniDumpWriteDump ok");
  if (jpeg) FreeScreenshot(jpeg);
  if (run->report->minidump_written) {
    WritePackageFile(run);
  } else {
    // A package an earlier dump left would be read back and sent as this one's report, and
    // whoever looks into the folder would take it for this crash's.
    DeleteFileA(kPackageFileName);
  }
  module->Trace("DumpProgram compress2 ok");
  WatchFileGrowth(INVALID_HANDLE_VALUE);
  CloseHandle(run->dump_file);
  run->dump_file = INVALID_HANDLE_VALUE;

  const bool crash = run->kind == kCrashDump;
  if (run->package_made) {
    SendPackage(run);
    if (crash) StartWholePackage(run->transport);
  }
  ShowDumpMessage(module);
  if (crash) FinishWholePackage();
  module->Trace("DumpProgram finish");
  run->finished = true;
}

}  // namespace

const DumpReport& LastDumpReport() { return g_crash_state.last_report; }

bool WriteDumpPackage(VXException* module, uint32_t kind, EXCEPTION_POINTERS* exception,
                      const CrashTransport* transport) {
  if (kind >= kDumpKindCount) return false;
  CrashState& state = g_crash_state;
  bool crash = kind == kCrashDump;
  if (!crash && InterlockedCompareExchange(&state.dump_busy, 1, 0) != 0) return false;
  state.module = module;
  state.transport = transport;
  LoadCrashResources();
  state.last_report = DumpReport();
  DumpRun run = {module, transport, kind, exception, INVALID_HANDLE_VALUE, &state.last_report, false,
                 false};
  // A fault anywhere in the dump ends it with false; files and buffers stay as they are.
  RunGuarded(RunDump, &run);
  EndUserWindow();
  WatchFileGrowth(INVALID_HANDLE_VALUE);
  // After a fault the dump file is still open without sharing, and the next dump could not
  // create it again.
  if (run.dump_file != INVALID_HANDLE_VALUE) CloseHandle(run.dump_file);
  if (!crash) {
    InterlockedExchange(&state.dump_busy, 0);
    return run.finished;
  }
  if (!run.finished) return false;
  ExitCrashedProcess(module->GetExitHook());
}

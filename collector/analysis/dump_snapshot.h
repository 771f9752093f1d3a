// What the stack walk needs of a minidump: the processor, each thread's context and stack memory,
// the other memory the dump holds, the exception and its context, and the modules with what finds
// their symbols. Bounds-checked and tolerant of a cut dump: a stream that runs past the end of what
// arrived gives the part that did arrive, and a note says what is missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "codeview_record.h"
#include "cpu_context.h"

namespace collector {

// What a hostile dump can make us hold. Real games stay far below: a few hundred threads, a few
// hundred modules, a few thousand memory ranges even in a full-memory dump.
constexpr size_t kMaxDumpStreams = 1024;
constexpr size_t kMaxDumpThreads = 1024;
constexpr size_t kMaxDumpModules = 4096;
constexpr size_t kMaxDumpMemoryRanges = 65536;
constexpr uint32_t kMaxModulePathBytes = 65534;  // a Windows path has at most 32767 UTF-16 units

struct MemoryRange {
  uint64_t start = 0;          // address in the crashed process
  uint64_t declared_size = 0;  // what the dump says it holds
  Bytes bytes;                 // what of it arrived, from `start` on
};

struct DumpThread {
  uint32_t thread_id = 0;
  uint32_t context_size = 0;  // as declared
  Bytes context;              // what of the CONTEXT arrived
  MemoryRange stack;
};

struct DumpModule {
  std::string path;  // UTF-8; empty when the name did not arrive
  uint64_t base = 0;
  uint32_t size = 0;
  uint32_t time_stamp = 0;
  CodeViewInfo codeview;
};

struct DumpSnapshot {
  Cpu cpu = Cpu::kUnknown;
  std::string os_version;  // "10.0.19045", empty without a system information stream
  bool has_exception = false;
  uint32_t exception_thread_id = 0;
  uint32_t exception_code = 0;
  uint64_t exception_address = 0;
  std::vector<uint64_t> exception_parameters;
  uint32_t exception_context_size = 0;
  Bytes exception_context;  // what of the faulting thread's CONTEXT at the fault arrived
  std::vector<DumpThread> threads;
  std::vector<DumpModule> modules;
  std::vector<MemoryRange> memory;  // the memory lists; thread stacks are in `threads`
  bool header_ok = false;           // "MDMP" and a directory that at least began to arrive
  std::vector<std::string> notes;   // what was cut, damaged or left out
};

DumpSnapshot ReadDumpSnapshot(Bytes dump);

}  // namespace collector

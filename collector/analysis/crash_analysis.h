// What a developer reads of a crash: the faulting thread's stack frame by frame, each frame as
// module + offset and, where the symbols folder has the module, function, file and line; the
// other threads; the modules with what a symbol store needs to find their symbols; and the
// signature under which the same crash from many players is grouped.
//
// The input is untrusted (a minidump from the network, or a crash summary), so every reader is
// bounds-checked and a damaged or cut input gives what it allows, with notes saying what is
// missing, never an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace collector {

// How a frame was found, most trustworthy first (as Breakpad and Sentry mark theirs).
enum class FrameTrust {
  kContext,       // the exception context's instruction pointer
  kUnwindInfo,    // the module's own unwind tables (x64 .pdata/.xdata)
  kFramePointer,  // the saved frame-pointer chain (i686)
  kScan,          // a return address found by scanning stack memory
  kSummary,       // sent by the client in a crash summary
};

// "context", "cfi", "frame_pointer", "scan", "summary".
const char* FrameTrustName(FrameTrust trust);

struct SourceLocation {
  std::string function;
  std::string file;
  uint32_t line = 0;
};

struct AnalyzedFrame {
  uint64_t instruction = 0;    // address in the crashed process
  int module = -1;             // index into CrashAnalysis::modules; -1 outside every module
  uint64_t module_offset = 0;  // instruction - the module's base
  FrameTrust trust = FrameTrust::kScan;
  // Innermost first when the symbolizer reports inlined functions; empty when unsymbolized.
  std::vector<SourceLocation> symbols;
};

struct AnalyzedModule {
  std::string path;  // as the crashed process named it, UTF-8
  std::string name;  // the file name part of path
  uint64_t base = 0;
  uint64_t size = 0;
  uint32_t time_stamp = 0;
  std::string debug_file;  // the PDB name of the CodeView record, when there is one
  // What a symbol store files the module's symbols under: the PDB signature and age (32 + n hex
  // digits) when the module has a CodeView record, else its time stamp and image size.
  std::string debug_id;
  bool system = false;            // Windows or a C runtime: left out of signatures
  bool ours = false;              // VXIdent.dll: left out of signatures
  bool symbols_found = false;     // the symbols folder holds a file for it
  bool symbols_mismatch = false;  // that file is from another build: a note says so
  std::string symbols_file;       // the file's path, when found
};

struct AnalyzedThread {
  uint32_t thread_id = 0;
  bool crashed = false;
  std::vector<AnalyzedFrame> frames;  // innermost first
};

struct CrashAnalysis {
  std::string cpu;         // "x86", "amd64", or empty when the dump does not say
  std::string os_version;  // "10.0.19045", empty when the dump does not say
  bool has_exception = false;
  uint32_t exception_code = 0;
  std::string exception_name;    // "EXCEPTION_ACCESS_VIOLATION", ...; empty for an unknown code
  std::string exception_detail;  // for an access violation: "write to 0x0000000000000000"
  uint64_t exception_address = 0;
  uint32_t crashed_thread_id = 0;
  std::vector<AnalyzedModule> modules;
  std::vector<AnalyzedThread> threads;  // the crashed thread first
  std::string signature;                // empty when no frame could be named
  std::vector<std::string> notes;       // what a cut or damaged input still allowed, and what not
};

struct AnalysisOptions {
  // PE files (with DWARF from MinGW, or with their PDB beside them), looked up by module name; empty:
  // no unwind tables and no symbols, frames stay module + offset.
  std::string symbols_dir;
  std::string symbolizer = "llvm-symbolizer";
  int symbolizer_timeout_ms = 60000;  // for the one symbolizer run of an analysis
  size_t max_frames = 64;             // per thread
};

// Walks every thread of a minidump (whole, or the part of a cut package that arrived) and
// symbolizes the frames. Reads only symbols_dir and runs only the symbolizer.
CrashAnalysis AnalyzeMinidump(const uint8_t* data, size_t size, const AnalysisOptions& options);

// For frames that arrived as module + offset (a crash summary): fills each frame's symbols from
// symbols_dir and the analysis's signature.
void SymbolizeAnalysis(CrashAnalysis* analysis, const AnalysisOptions& options);

// The grouping key from the crashed thread's top frames, skipping system and our own library's
// frames. Pure.
std::string CrashSignature(const CrashAnalysis& analysis);

}  // namespace collector

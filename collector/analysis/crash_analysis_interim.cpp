// TEMPORARY: stands in for the analysis engineer's stack walker, symbolizer and signature until
// their implementation of crash_analysis.h is merged, which replaces (deletes) this file. It gives
// what the minidump reader already reads: the exception, the thread ids and the modules, no frames,
// and a signature from the exception code and the module the fault address lies in.
#include <cstdio>

#include "analysis/crash_analysis.h"
#include "minidump_format.h"
#include "minidump_reader.h"

namespace collector {
namespace {

struct ExceptionName {
  uint32_t code;
  const char* name;
};
constexpr ExceptionName kExceptionNames[] = {
    {0xC0000005, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FD, "EXCEPTION_STACK_OVERFLOW"},
    {0xC0000409, "STATUS_STACK_BUFFER_OVERRUN"},
    {0x80000003, "EXCEPTION_BREAKPOINT"},
    {0xE06D7363, "C++ exception"},
};

const char* NameOf(uint32_t code) {
  for (const ExceptionName& e : kExceptionNames) {
    if (e.code == code) return e.name;
  }
  return "";
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else if (unit < 0x800) {
      out += static_cast<char>(0xC0 | unit >> 6);
      out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {  // surrogates are passed on as they are: module paths are ASCII in practice
      out += static_cast<char>(0xE0 | unit >> 12);
      out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return out;
}

std::string FileName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const char* FrameTrustName(FrameTrust trust) {
  switch (trust) {
    case FrameTrust::kContext: return "context";
    case FrameTrust::kUnwindInfo: return "cfi";
    case FrameTrust::kFramePointer: return "frame_pointer";
    case FrameTrust::kScan: return "scan";
    case FrameTrust::kSummary: return "summary";
  }
  return "scan";
}

CrashAnalysis AnalyzeMinidump(const uint8_t* data, size_t size, const AnalysisOptions& options) {
  CrashAnalysis analysis;
  MinidumpInfo info = ReadMinidump(Bytes{data, size});
  if (!info.error.empty()) analysis.notes.push_back("minidump: " + info.error);
  if (info.processor_architecture == kProcessorArchitectureX86) analysis.cpu = "x86";
  if (info.processor_architecture == kProcessorArchitectureAmd64) analysis.cpu = "amd64";
  if (info.modules) {
    for (size_t i = 0; i < info.modules->size(); ++i) {
      AnalyzedModule module;
      module.path = Utf8((*info.modules)[i]);
      module.name = FileName(module.path);
      module.base = info.module_images[i].base;
      module.size = info.module_images[i].size;
      module.time_stamp = info.module_images[i].time_stamp;
      analysis.modules.push_back(module);
    }
  }
  if (info.exception) {
    analysis.has_exception = true;
    analysis.exception_code = info.exception->code;
    analysis.exception_name = NameOf(info.exception->code);
    analysis.exception_address = info.exception->address;
    analysis.crashed_thread_id = info.exception->thread_id;
  }
  if (info.thread_ids) {
    for (uint32_t id : *info.thread_ids) {
      AnalyzedThread thread;
      thread.thread_id = id;
      thread.crashed = analysis.has_exception && id == analysis.crashed_thread_id;
      if (thread.crashed) {
        analysis.threads.insert(analysis.threads.begin(), thread);
      } else {
        analysis.threads.push_back(thread);
      }
    }
  }
  analysis.notes.push_back("no stack walk in this build: frames are not read");
  SymbolizeAnalysis(&analysis, options);
  return analysis;
}

void SymbolizeAnalysis(CrashAnalysis* analysis, const AnalysisOptions&) {
  analysis->signature = CrashSignature(*analysis);
}

std::string CrashSignature(const CrashAnalysis& analysis) {
  if (!analysis.has_exception) return "";
  std::string module;
  for (const AnalyzedModule& m : analysis.modules) {
    if (analysis.exception_address >= m.base && analysis.exception_address - m.base < m.size) module = m.name;
  }
  std::string code = analysis.exception_name;
  if (code.empty()) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", analysis.exception_code);
    code = hex;
  }
  return code + " in " + (module.empty() ? std::string("unknown module") : module);
}

}  // namespace collector

#include "crash_analysis.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <utility>

#include "dump_snapshot.h"
#include "exception_names.h"
#include "module_kinds.h"
#include "module_map.h"
#include "process_memory.h"
#include "stack_walker.h"
#include "symbolizer.h"
#include "symbols_folder.h"

namespace collector {
namespace {

// Modules named in the note about binaries the symbols folder lacks; the rest are counted.
constexpr size_t kListedMissingBinaries = 10;
// Frames of all threads together: a thousand threads of 64 frames. It bounds the walk's time and
// the symbolizer's work whatever max_frames a caller sets; threads past it keep only frame 0.
constexpr size_t kMaxFramesPerAnalysis = 65536;

const char* CpuName(Cpu cpu) {
  switch (cpu) {
    case Cpu::kX86:
      return "x86";
    case Cpu::kAmd64:
      return "amd64";
    default:
      return "";
  }
}

AnalyzedModule ModuleFromDump(const DumpModule& in) {
  AnalyzedModule out;
  out.path = in.path;
  out.name = BaseName(in.path);
  out.base = in.base;
  out.size = in.size;
  out.time_stamp = in.time_stamp;
  if (in.codeview.present) out.debug_file = BaseName(in.codeview.pdb_name);
  out.debug_id = DebugId(in.codeview, in.time_stamp, in.size);
  return out;
}

void Classify(AnalyzedModule* module) {
  if (module->name.empty()) module->name = BaseName(module->path);
  module->system = IsSystemModule(module->name);
  module->ours = IsOurLibrary(module->name);
}

// The binaries the symbols folder holds for the analysis's modules, by module index.
std::vector<std::shared_ptr<const PeImage>> FindBinaries(CrashAnalysis* analysis, const AnalysisOptions& options) {
  std::vector<std::shared_ptr<const PeImage>> images(analysis->modules.size());
  if (options.symbols_dir.empty()) return images;
  std::error_code error;
  if (!std::filesystem::is_directory(options.symbols_dir, error)) {
    analysis->notes.push_back("no symbols folder " + options.symbols_dir);
    return images;
  }
  SymbolsFolder folder(options.symbols_dir);
  std::vector<std::string> missing;  // the game's own modules: what a developer would want to add
  for (size_t i = 0; i < analysis->modules.size(); ++i) {
    AnalyzedModule& module = analysis->modules[i];
    ModuleBinary binary = folder.Find(module, &analysis->notes);
    module.symbols_file = binary.path;
    module.symbols_found = binary.image != nullptr;
    module.symbols_mismatch = binary.mismatch;
    images[i] = binary.image;
    if (!binary.image && !module.system && !module.name.empty()) missing.push_back(module.name);
  }
  if (!missing.empty()) {
    std::string list;
    for (size_t i = 0; i < missing.size() && i < kListedMissingBinaries; ++i) list += (i ? ", " : "") + missing[i];
    if (missing.size() > kListedMissingBinaries)
      list += " and " + std::to_string(missing.size() - kListedMissingBinaries) + " more";
    analysis->notes.push_back("no binary in the symbols folder for " + list);
  }
  return images;
}

// Looks up every frame in a module whose binary is at hand, in one symbolizer run.
void SymbolizeFrames(CrashAnalysis* analysis, const std::vector<std::shared_ptr<const PeImage>>& images,
                     const AnalysisOptions& options) {
  std::vector<SymbolRequest> requests;
  std::map<std::pair<int, uint64_t>, size_t> request_of;  // (module, address) -> index in requests
  std::vector<std::pair<AnalyzedFrame*, size_t>> asked;
  size_t unusable_paths = 0;
  for (AnalyzedThread& thread : analysis->threads) {
    for (size_t i = 0; i < thread.frames.size(); ++i) {
      AnalyzedFrame& frame = thread.frames[i];
      if (frame.module < 0 || static_cast<size_t>(frame.module) >= images.size() || !images[frame.module]) continue;
      const std::string& file = analysis->modules[frame.module].symbols_file;
      if (file.find_first_of("\"\n") != std::string::npos) {
        ++unusable_paths;  // the symbolizer's input cannot quote it
        continue;
      }
      // Every frame but the innermost holds a return address: its line is that of the call before it.
      uint64_t address = images[frame.module]->image_base() + frame.module_offset - (i > 0 ? 1 : 0);
      auto key = std::make_pair(frame.module, address);
      auto found = request_of.find(key);
      if (found == request_of.end()) {
        found = request_of.emplace(key, requests.size()).first;
        requests.push_back(SymbolRequest{file, address});
      }
      asked.emplace_back(&frame, found->second);
    }
  }
  if (unusable_paths)
    analysis->notes.push_back(std::to_string(unusable_paths) +
                              " frames not symbolized: a quote or line break in the file's path");
  if (requests.empty()) return;
  std::vector<std::vector<SourceLocation>> answers;
  std::string problem;
  if (!Symbolize(SymbolizerCommand(options.symbolizer, options.symbolizer_timeout_ms), requests, &answers, &problem)) {
    analysis->notes.push_back(problem + ": frames without symbols stay module + offset");
  }
  for (const auto& [frame, index] : asked) frame->symbols = answers[index];
}

void FillException(CrashAnalysis* analysis, uint32_t code, const std::vector<uint64_t>& parameters, int pointer_size) {
  analysis->exception_name = ExceptionName(code);
  analysis->exception_detail = ExceptionDetail(code, parameters, pointer_size);
}

// The registers a thread's walk starts from: for the crashed thread those at the fault, from the
// exception stream, which the thread list may not have (Windows records there where the thread
// stood when the dump was written).
bool StartRegisters(const DumpSnapshot& dump, const DumpThread& thread, bool crashed, Registers* regs,
                    std::vector<std::string>* notes) {
  if (crashed) {
    if (ReadContext(dump.cpu, dump.exception_context, regs)) return true;
    notes->push_back("the exception context did not arrive: the crashed thread is walked from where the dump found it");
  }
  return ReadContext(dump.cpu, thread.context, regs);
}

void WalkThreads(const DumpSnapshot& dump, const ModuleMap& modules, const AnalysisOptions& options,
                 CrashAnalysis* analysis) {
  ProcessMemory memory;
  for (const DumpThread& thread : dump.threads) memory.Add(thread.stack);
  for (const MemoryRange& range : dump.memory) memory.Add(range);
  memory.Seal();
  // The crashed thread first, then the others in the dump's order.
  std::vector<const DumpThread*> order;
  for (const DumpThread& thread : dump.threads) {
    bool crashed = dump.has_exception && thread.thread_id == dump.exception_thread_id;
    order.insert(crashed ? order.begin() : order.end(), &thread);
  }
  // A crashed thread the thread list lacks (it was cut short, or left out) is still walked from
  // the exception's context, through whatever memory the dump holds.
  DumpThread unlisted;
  bool listed = !order.empty() && dump.has_exception && order.front()->thread_id == dump.exception_thread_id;
  if (dump.has_exception && !listed) {
    analysis->notes.push_back("the exception names thread " + std::to_string(dump.exception_thread_id) +
                              ", which the thread list that arrived lacks: walked from the exception context alone");
    unlisted.thread_id = dump.exception_thread_id;
    order.insert(order.begin(), &unlisted);
  }
  size_t without_context = 0, frames_left = kMaxFramesPerAnalysis, cut_short = 0;
  for (const DumpThread* thread : order) {
    AnalyzedThread out;
    out.thread_id = thread->thread_id;
    // Only the first: a damaged dump may list the crashed thread's id twice.
    out.crashed = thread == order.front() && dump.has_exception && thread->thread_id == dump.exception_thread_id;
    Registers regs;
    if (StartRegisters(dump, *thread, out.crashed, &regs, &analysis->notes)) {
      memory.SetPreferred(&thread->stack);
      size_t max_frames = std::max<size_t>(1, std::min(options.max_frames, frames_left));
      if (max_frames < options.max_frames) ++cut_short;
      WalkInput input{dump.cpu, &memory, &modules, max_frames};
      for (const WalkedFrame& walked : WalkStack(input, regs)) {
        AnalyzedFrame frame;
        frame.instruction = walked.instruction;
        frame.trust = walked.trust;
        frame.module = modules.Find(walked.instruction);
        if (frame.module >= 0) frame.module_offset = walked.instruction - modules.at(frame.module).base;
        out.frames.push_back(frame);
      }
      frames_left -= std::min(frames_left, out.frames.size());
    } else {
      ++without_context;
    }
    analysis->threads.push_back(std::move(out));
  }
  if (without_context)
    analysis->notes.push_back(std::to_string(without_context) + " threads have no context that arrived: not walked");
  if (cut_short) {
    analysis->notes.push_back(std::to_string(cut_short) + " threads walked short: the analysis's " +
                              std::to_string(kMaxFramesPerAnalysis) + " frames were spent");
  }
}

}  // namespace

const char* FrameTrustName(FrameTrust trust) {
  switch (trust) {
    case FrameTrust::kContext:
      return "context";
    case FrameTrust::kUnwindInfo:
      return "cfi";
    case FrameTrust::kFramePointer:
      return "frame_pointer";
    case FrameTrust::kScan:
      return "scan";
    case FrameTrust::kSummary:
      return "summary";
  }
  return "";
}

CrashAnalysis AnalyzeMinidump(const uint8_t* data, size_t size, const AnalysisOptions& options) {
  DumpSnapshot dump = ReadDumpSnapshot(Bytes{data, size});
  CrashAnalysis analysis;
  analysis.notes = dump.notes;
  analysis.cpu = CpuName(dump.cpu);
  analysis.os_version = dump.os_version;
  analysis.has_exception = dump.has_exception;
  if (dump.has_exception) {
    analysis.exception_code = dump.exception_code;
    analysis.exception_address = dump.exception_address;
    analysis.crashed_thread_id = dump.exception_thread_id;
    FillException(&analysis, dump.exception_code, dump.exception_parameters, PointerSize(dump.cpu));
  }
  for (const DumpModule& module : dump.modules) {
    analysis.modules.push_back(ModuleFromDump(module));
    Classify(&analysis.modules.back());
  }
  std::vector<std::shared_ptr<const PeImage>> images = FindBinaries(&analysis, options);

  // A binary for another processor has no tables this walk can use.
  uint16_t machine = dump.cpu == Cpu::kAmd64 ? kMachineAmd64 : kMachineI386;
  std::vector<MappedModule> mapped;
  for (size_t i = 0; i < analysis.modules.size(); ++i) {
    const PeImage* image = images[i] && images[i]->machine() == machine ? images[i].get() : nullptr;
    if (images[i] && !image)
      analysis.notes.push_back(analysis.modules[i].name + ": the symbols folder's file is for another processor");
    mapped.push_back(MappedModule{analysis.modules[i].base, analysis.modules[i].size, image});
  }
  ModuleMap modules(std::move(mapped));
  if (dump.cpu != Cpu::kUnknown) WalkThreads(dump, modules, options, &analysis);
  SymbolizeFrames(&analysis, images, options);
  analysis.signature = CrashSignature(analysis);
  return analysis;
}

void SymbolizeAnalysis(CrashAnalysis* analysis, const AnalysisOptions& options) {
  for (AnalyzedModule& module : analysis->modules) Classify(&module);
  if (analysis->has_exception && analysis->exception_name.empty()) {
    analysis->exception_name = ExceptionName(analysis->exception_code);
  }
  std::vector<std::shared_ptr<const PeImage>> images = FindBinaries(analysis, options);
  SymbolizeFrames(analysis, images, options);
  analysis->signature = CrashSignature(*analysis);
}

}  // namespace collector

// Symbols from llvm-symbolizer: its answers read, its child process bounded in time and output, and
// real lookups in a MinGW build with DWARF and a clang build with a PDB (made by this folder's
// build from samples/symbol_sample.c).
#include "symbolizer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "analysis_test_support.h"
#include "child_process.h"
#include "crash_analysis.h"
#include "pe_image.h"

using namespace collector;
using namespace analysis_test;

namespace {

// The line of "int SampleEntry(void) {" in samples/symbol_sample.c.
constexpr uint32_t kSampleEntryLine = 8;

std::string Base(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace

TEST(Symbolizer, ReadsItsAnswers) {
  const std::string output =
      R"json({"Address":"0x140001010","ModuleName":"a.exe","Symbol":[{"Column":3,"FileName":"/src/inl.h","FunctionName":"Inner","Line":12},)json"
      R"json({"FileName":"/src/a.cpp","FunctionName":"Outer(int)","Line":40}]})json"
      "\n"
      R"json({"Address":"0x140009999","ModuleName":"a.exe","Symbol":[{"FileName":"","FunctionName":"??","Line":0}]})json"
      "\n"
      R"json({"Address":"0x10","Error":{"Message":"No such file or directory"},"ModuleName":"gone.exe"})json"
      "\n";
  std::vector<std::vector<SourceLocation>> out;
  std::string problem;
  ASSERT_TRUE(ParseSymbolizerOutput(output, 3, &out, &problem)) << problem;
  ASSERT_EQ(out.size(), 3u);
  ASSERT_EQ(out[0].size(), 2u);
  EXPECT_EQ(out[0][0].function, "Inner");
  EXPECT_EQ(out[0][0].file, "/src/inl.h");
  EXPECT_EQ(out[0][0].line, 12u);
  EXPECT_EQ(out[0][1].function, "Outer(int)");
  EXPECT_TRUE(out[1].empty());  // "??" is no symbol
  EXPECT_TRUE(out[2].empty());
  EXPECT_FALSE(ParseSymbolizerOutput(output, 4, &out, &problem));  // one answer short
  EXPECT_NE(problem.find("3 of 4"), std::string::npos);
  EXPECT_FALSE(ParseSymbolizerOutput("not json\n", 1, &out, &problem));
}

TEST(ChildProcess, BoundedInTimeAndOutput) {
  std::string big(3 << 20, 'x');  // larger than any pipe buffer: writing and reading must interleave
  ChildResult cat = RunChild({"cat"}, big, 20000, 16 << 20);
  EXPECT_TRUE(cat.finished) << cat.problem;
  EXPECT_EQ(cat.output.size(), big.size());
  EXPECT_EQ(cat.exit_code, 0);

  auto start = std::chrono::steady_clock::now();
  ChildResult sleeper = RunChild({"sleep", "30"}, "", 300, 1024);
  EXPECT_TRUE(sleeper.started);
  EXPECT_FALSE(sleeper.finished);
  EXPECT_NE(sleeper.problem.find("no end within 300 ms"), std::string::npos) << sleeper.problem;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  ChildResult flood = RunChild({"yes"}, "", 20000, 1 << 20);
  EXPECT_FALSE(flood.finished);
  EXPECT_NE(flood.problem.find("bytes of output"), std::string::npos) << flood.problem;

  ChildResult failing = RunChild({"false"}, "", 20000, 1024);
  EXPECT_TRUE(failing.finished);
  EXPECT_EQ(failing.exit_code, 1);

  ChildResult missing = RunChild({"/nonexistent/llvm-symbolizer"}, "x", 20000, 1024);
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.problem.find("No such file"), std::string::npos) << missing.problem;
}

namespace {

// An analysis as a crash summary brings it: one module by name, one frame at the module's entry
// point, and the symbols folder holding the sample.
struct Summary {
  CrashAnalysis analysis;
  AnalysisOptions options;
  uint32_t entry = 0;

  explicit Summary(const std::string& sample) {
    options.symbols_dir = VX_SAMPLE_DIR;
    Buffer file = ReadFile(options.symbols_dir + "/" + sample);
    if (file.size() < 0x200) return;
    uint32_t lfanew;
    std::memcpy(&lfanew, file.data() + 0x3C, 4);
    std::memcpy(&entry, file.data() + lfanew + 24 + 16, 4);  // AddressOfEntryPoint
    AnalyzedModule module;
    module.name = sample;
    module.base = 0x7FF600000000;
    analysis.modules.push_back(module);
    AnalyzedThread thread;
    thread.crashed = true;
    AnalyzedFrame frame;
    frame.module = 0;
    frame.module_offset = entry;
    frame.instruction = module.base + entry;
    frame.trust = FrameTrust::kSummary;
    thread.frames.push_back(frame);
    analysis.threads.push_back(thread);
  }
};

bool SymbolizerInstalled() { return RunChild({"llvm-symbolizer", "--version"}, "", 20000, 1 << 16).finished; }

}  // namespace

// MinGW's -g (DWARF in the PE file) and clang's -gcodeview with lld-link (a PDB beside the file,
// found through the file's CodeView record).
TEST(Symbolizer, DwarfAndPdbBuilds) {
  if (!SymbolizerInstalled()) GTEST_SKIP() << "llvm-symbolizer is not installed (tools/setup.sh installs llvm)";
  for (const char* sample : {"symbol_sample_dwarf.exe", "symbol_sample_pdb.exe"}) {
    Summary s(sample);
    ASSERT_NE(s.entry, 0u) << sample << " missing from " << VX_SAMPLE_DIR;
    SymbolizeAnalysis(&s.analysis, s.options);
    EXPECT_TRUE(s.analysis.modules[0].symbols_found) << sample;
    const AnalyzedFrame& frame = s.analysis.threads[0].frames[0];
    ASSERT_EQ(frame.symbols.size(), 1u) << sample << ": " << ::testing::PrintToString(s.analysis.notes);
    EXPECT_EQ(frame.symbols[0].function, "SampleEntry") << sample;
    EXPECT_EQ(Base(frame.symbols[0].file), "symbol_sample.c") << sample;
    EXPECT_EQ(frame.symbols[0].line, kSampleEntryLine) << sample;
    EXPECT_EQ(s.analysis.signature, "SampleEntry") << sample;
    EXPECT_EQ(s.analysis.notes, std::vector<std::string>{}) << sample;
  }
}

// The file's own identity against the crashed module's: a PDB signature that differs, or a time
// stamp that differs, still gives symbols, with the mismatch marked and noted.
TEST(Symbolizer, FileFromAnotherBuild) {
  if (!SymbolizerInstalled()) GTEST_SKIP() << "llvm-symbolizer is not installed (tools/setup.sh installs llvm)";
  Summary pdb("symbol_sample_pdb.exe");
  ASSERT_NE(pdb.entry, 0u);
  pdb.analysis.modules[0].debug_id =
      "00000000000000000000000000000000"
      "1";
  SymbolizeAnalysis(&pdb.analysis, pdb.options);
  EXPECT_TRUE(pdb.analysis.modules[0].symbols_mismatch);
  EXPECT_TRUE(HasNote(pdb.analysis, "is from another build"));
  EXPECT_EQ(pdb.analysis.threads[0].frames[0].symbols.size(), 1u);

  Summary dwarf("symbol_sample_dwarf.exe");
  ASSERT_NE(dwarf.entry, 0u);
  dwarf.analysis.modules[0].name = "SYMBOL_SAMPLE_DWARF.EXE";  // Windows names match in any case
  dwarf.analysis.modules[0].time_stamp = 1;
  dwarf.analysis.modules[0].size = 0x1000;
  SymbolizeAnalysis(&dwarf.analysis, dwarf.options);
  EXPECT_TRUE(dwarf.analysis.modules[0].symbols_found);
  EXPECT_TRUE(dwarf.analysis.modules[0].symbols_mismatch);
  EXPECT_EQ(dwarf.analysis.threads[0].frames[0].symbols.size(), 1u);
}

// Without a symbolizer, or with one that hangs, frames stay module + offset and a note says why.
TEST(Symbolizer, MissingOrHangingSymbolizer) {
  Summary missing("symbol_sample_dwarf.exe");
  ASSERT_NE(missing.entry, 0u);
  missing.options.symbolizer = "/nonexistent/llvm-symbolizer";
  SymbolizeAnalysis(&missing.analysis, missing.options);
  EXPECT_TRUE(missing.analysis.threads[0].frames[0].symbols.empty());
  EXPECT_TRUE(HasNote(missing.analysis, "symbolizer not run"));
  char offset[32];
  snprintf(offset, sizeof offset, "+0x%x", missing.entry);
  EXPECT_EQ(missing.analysis.signature, std::string("symbol_sample_dwarf.exe") + offset);

  char script[] = "/tmp/vx-hanging-symbolizer-XXXXXX";
  int fd = mkstemp(script);
  ASSERT_GE(fd, 0);
  const char body[] = "#!/bin/sh\nexec sleep 30\n";
  ASSERT_EQ(write(fd, body, sizeof body - 1), static_cast<ssize_t>(sizeof body - 1));
  close(fd);
  chmod(script, 0700);
  Summary hanging("symbol_sample_dwarf.exe");
  hanging.options.symbolizer = script;
  hanging.options.symbolizer_timeout_ms = 300;
  auto start = std::chrono::steady_clock::now();
  SymbolizeAnalysis(&hanging.analysis, hanging.options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(HasNote(hanging.analysis, "no end within 300 ms"));
  EXPECT_TRUE(hanging.analysis.threads[0].frames[0].symbols.empty());
  unlink(script);
}

// The PE reader on the samples: the entry point's .pdata entry, code sections, the CodeView record.
TEST(PeImage, ReadsTheSamples) {
  Summary pdb("symbol_sample_pdb.exe");
  ASSERT_NE(pdb.entry, 0u);
  PeImage image;
  std::string problem;
  ASSERT_TRUE(image.Load(ReadFile(std::string(VX_SAMPLE_DIR) + "/symbol_sample_pdb.exe"), &problem)) << problem;
  EXPECT_EQ(image.machine(), kMachineAmd64);
  EXPECT_EQ(image.image_base(), 0x140000000u);
  EXPECT_TRUE(image.IsCode(pdb.entry));
  EXPECT_FALSE(image.IsCode(0));
  ASSERT_TRUE(image.codeview().present);
  EXPECT_EQ(Base(image.codeview().pdb_name), "symbol_sample_pdb.pdb");
  RuntimeFunction function;
  ASSERT_TRUE(image.FindFunction(pdb.entry, &function));
  EXPECT_EQ(function.begin, pdb.entry);
  EXPECT_FALSE(image.FindFunction(0x10, &function));

  Buffer far_header(64, 0);  // "MZ" whose PE header offset points far past the end
  far_header[0] = 'M';
  far_header[1] = 'Z';
  PutAt<uint32_t>(&far_header, 0x3C, 0xFFFFFFF0);
  for (const Buffer& junk : {Buffer(), Buffer{'M', 'Z'}, far_header}) EXPECT_FALSE(PeImage().Load(junk, &problem));
  Buffer cut = ReadFile(std::string(VX_SAMPLE_DIR) + "/symbol_sample_pdb.exe");
  for (size_t size = 0; size < cut.size(); size += 7) {  // every cut of the file reads safely
    PeImage part;
    if (part.Load(Buffer(cut.begin(), cut.begin() + size), &problem)) {
      part.FindFunction(pdb.entry, &function);
      part.IsCode(pdb.entry);
      part.Before(pdb.entry, 8);
    }
  }
}

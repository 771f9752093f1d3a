// crash_analyze: prints the analysis of a minidump ("MDMP", as TempDump.dmp) or a dump package
// ("VGZ", as TempDump.vgz, whole or cut) as JSON on standard output.
//
//   crash_analyze [--symbols DIR] [--symbolizer PROGRAM] [--max-frames N] [--pretty] FILE
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "analysis_json.h"
#include "crash_analysis.h"
#include "package_prefix.h"

namespace {

const char kPackageMagic[4] = {'V', 'G', 'Z', 0};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Prints the crash analysis of a minidump or dump package as JSON"};
  collector::AnalysisOptions options;
  std::string file;
  bool pretty = false;
  app.add_option("--symbols", options.symbols_dir,
                 "folder of the modules' PE files (with DWARF, or with their PDB beside them)");
  app.add_option("--symbolizer", options.symbolizer, "llvm-symbolizer to run")->capture_default_str();
  app.add_option("--max-frames", options.max_frames, "frames per thread")
      ->capture_default_str()
      ->check(CLI::Range(1, 4096));
  app.add_flag("--pretty", pretty, "indented JSON");
  app.add_option("file", file, "TempDump.dmp or TempDump.vgz")->required();
  CLI11_PARSE(app, argc, argv);

  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "crash_analyze: cannot open " << file << "\n";
    return 2;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> package_notes;
  if (bytes.size() >= 4 && std::equal(kPackageMagic, kPackageMagic + 4, bytes.begin())) {
    collector::PackagePrefix package = collector::InflatePackagePrefix(collector::Bytes{bytes.data(), bytes.size()});
    if (package.cut)
      package_notes.push_back("the package arrived cut: " + std::to_string(package.minidump.size()) +
                              " bytes of the minidump");
    if (!package.error.empty()) package_notes.push_back("package: " + package.error);
    bytes = std::move(package.minidump);
  }
  collector::CrashAnalysis analysis = collector::AnalyzeMinidump(bytes.data(), bytes.size(), options);
  analysis.notes.insert(analysis.notes.begin(), package_notes.begin(), package_notes.end());
  std::cout << collector::AnalysisJson(analysis, pretty ? 2 : -1) << "\n";
  return 0;
}

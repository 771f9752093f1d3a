#include "symbolizer.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "child_process.h"

namespace collector {
namespace {

// Far above what any real analysis asks (64 frames by a few hundred threads, a few hundred bytes
// of JSON each), and a bound on what a misbehaving symbolizer can make us hold.
constexpr size_t kMaxSymbolizerOutput = size_t{256} << 20;
// The text llvm-symbolizer gives for what it does not know.
constexpr char kUnknown[] = "??";

std::string KnownOrEmpty(const nlohmann::json& value) {
  if (!value.is_string()) return "";
  std::string text = value.get<std::string>();
  return text == kUnknown ? "" : text;
}

}  // namespace

SymbolizerRun SymbolizerCommand(const std::string& symbolizer, int timeout_ms) {
  SymbolizerRun run;
  run.argv = {symbolizer, "--output-style=JSON", "--inlines", "--demangle"};
  run.timeout_ms = timeout_ms;
  return run;
}

bool ParseSymbolizerOutput(const std::string& output, size_t expected, std::vector<std::vector<SourceLocation>>* out,
                           std::string* problem) {
  out->assign(expected, {});
  size_t line_start = 0, index = 0;
  while (line_start < output.size() && index < expected) {
    size_t end = output.find('\n', line_start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(line_start, end - line_start);
    line_start = end + 1;
    if (line.empty()) continue;
    nlohmann::json answer = nlohmann::json::parse(line, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) {
      *problem = "unreadable symbolizer answer: " + line.substr(0, 200);
      return false;
    }
    auto symbols = answer.find("Symbol");
    if (symbols != answer.end() && symbols->is_array()) {
      for (const nlohmann::json& symbol : *symbols) {
        if (!symbol.is_object()) continue;
        SourceLocation location;
        location.function = KnownOrEmpty(symbol.value("FunctionName", nlohmann::json()));
        location.file = KnownOrEmpty(symbol.value("FileName", nlohmann::json()));
        const nlohmann::json line_number = symbol.value("Line", nlohmann::json());
        if (line_number.is_number_unsigned()) location.line = line_number.get<uint32_t>();
        if (!location.function.empty() || !location.file.empty()) (*out)[index].push_back(location);
      }
    }
    ++index;
  }
  if (index < expected) {
    *problem = "the symbolizer answered " + std::to_string(index) + " of " + std::to_string(expected) + " addresses";
    return false;
  }
  return true;
}

bool Symbolize(const SymbolizerRun& run, const std::vector<SymbolRequest>& requests,
               std::vector<std::vector<SourceLocation>>* out, std::string* problem) {
  out->assign(requests.size(), {});
  if (requests.empty()) return true;
  std::string input;
  for (const SymbolRequest& request : requests) {
    char address[32];
    snprintf(address, sizeof address, " 0x%llx\n", static_cast<unsigned long long>(request.address));
    // The symbolizer reads a quoted file name up to the next quote; our callers leave out names with one.
    input += "\"" + request.file + "\"" + address;
  }
  ChildResult child = RunChild(run.argv, input, run.timeout_ms, kMaxSymbolizerOutput);
  if (!child.started) {
    *problem = "symbolizer not run: " + child.problem;
    return false;
  }
  bool parsed = ParseSymbolizerOutput(child.output, requests.size(), out, problem);
  if (!child.finished) {
    *problem = "symbolizer stopped: " + child.problem;
    return false;
  }
  return parsed;
}

}  // namespace collector

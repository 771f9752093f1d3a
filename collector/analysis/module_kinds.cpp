#include "module_kinds.h"

namespace collector {
namespace {

// Windows' own modules and the runtimes the compilers ship, as Socorro's and Sentry's rules list
// them. Graphics drivers and Direct3D are not here: a crash inside them is worth its own group.
const char* const kSystemModules[] = {
    "ntdll.dll",    "kernel32.dll", "kernelbase.dll", "user32.dll",     "win32u.dll",  "gdi32.dll",    "gdi32full.dll",
    "advapi32.dll", "sechost.dll",  "rpcrt4.dll",     "combase.dll",    "ole32.dll",   "oleaut32.dll", "shell32.dll",
    "shlwapi.dll",  "ws2_32.dll",   "mswsock.dll",    "dbghelp.dll",    "dbgcore.dll", "wow64*",       "api-ms-win-*",
    "ext-ms-win-*", "msvcrt.dll",   "ucrtbase.dll",   "ucrtbased.dll",  "vcruntime*",  "msvcp*",       "msvcr*",
    "concrt*",      "libstdc++*",   "libgcc_s*",      "libwinpthread*",
};

constexpr char kOurLibrary[] = "vxident.dll";

}  // namespace

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  if (!pattern.empty() && pattern.back() == '*')
    return name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  return name == pattern;
}

bool IsSystemModule(const std::string& name) {
  std::string lower = LowerAscii(name);
  for (const char* pattern : kSystemModules) {
    if (MatchesPattern(lower, pattern)) return true;
  }
  return false;
}

bool IsOurLibrary(const std::string& name) { return LowerAscii(name) == kOurLibrary; }

}  // namespace collector

// Which modules a crash signature leaves out: Windows' own and the C and C++ runtimes' (a crash
// seen there is nearly always a game's bad argument), and our own library, which is on every
// crashed thread's stack because it handles the crash.
#pragma once

#include <string>

namespace collector {

// By file name, in any case.
bool IsSystemModule(const std::string& name);
bool IsOurLibrary(const std::string& name);

// The lower-case form of an ASCII name; Windows compares file names without case.
std::string LowerAscii(std::string text);

// Whether `name` matches `pattern` exactly, or begins with it when the pattern ends in "*".
bool MatchesPattern(const std::string& name, const std::string& pattern);

}  // namespace collector

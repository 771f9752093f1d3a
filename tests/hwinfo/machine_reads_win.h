// What the Windows tests read for themselves, by other calls than the probes use (their own cpuid,
// RegGetValueA), to compare with the probes; and a guard for registry keys a test changes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "hwinfo/cpu_identify.h"

namespace wintest {

// A small check kit for the test programs that run under Wine. (GoogleTest does not build with
// MinGW's win32 thread model, which has no std::mutex.) A failed check prints where and what, and
// makes the program exit nonzero; notes can be streamed onto a check: CHECK_EQ(a, b) << "case".
class Outcome {
 public:
  Outcome(bool ok, const char* file, int line, std::string what);
  Outcome(Outcome&& other) noexcept;
  ~Outcome();
  template <typename T>
  Outcome& operator<<(const T& note) {
    if (!ok_) notes_ << note;
    return *this;
  }
  explicit operator bool() const { return ok_; }

 private:
  bool ok_;
  bool reported_ = false;
  const char* file_;
  int line_;
  std::string what_;
  std::ostringstream notes_;
};

template <typename T>
std::string Show(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}
inline std::string Show(const std::string& value) { return "\"" + value + "\""; }
inline std::string Show(const char* value) { return value == nullptr ? "(null)" : Show(std::string(value)); }
inline std::string Show(char* value) { return Show(static_cast<const char*>(value)); }
inline std::string Show(bool value) { return value ? "true" : "false"; }

template <typename A, typename B>
Outcome CheckEq(const A& a, const B& b, const char* text_a, const char* text_b, const char* file, int line) {
  return Outcome(a == b, file, line, std::string(text_a) + " == " + text_b + ": " + Show(a) + " vs " + Show(b));
}
Outcome CheckStrEq(const char* a, const char* b, const char* text_a, const char* text_b, const char* file, int line);

// One named case of a program; RunCases prints each and returns the exit code.
struct TestCase {
  const char* name;
  void (*run)();
};
int RunCases(const TestCase* cases, size_t count);
template <size_t N>
int RunCases(const TestCase (&cases)[N]) {
  return RunCases(cases, N);
}

#define CHECK_EQ(a, b) ::wintest::CheckEq((a), (b), #a, #b, __FILE__, __LINE__)
#define CHECK_NE(a, b) ::wintest::Outcome(!((a) == (b)), __FILE__, __LINE__, #a " != " #b)
#define CHECK_GT(a, b) ::wintest::Outcome((a) > (b), __FILE__, __LINE__, #a " > " #b)
#define CHECK_TRUE(a) ::wintest::Outcome(bool(a), __FILE__, __LINE__, #a)
#define CHECK_FALSE(a) ::wintest::Outcome(!(a), __FILE__, __LINE__, "!" #a)
#define CHECK_STREQ(a, b) ::wintest::CheckStrEq((a), (b), #a, #b, __FILE__, __LINE__)
// Ends the case when the check fails.
#define REQUIRE(check) \
  if (check) {         \
  } else               \
    return

CpuIdRegs OwnCpuId(uint32_t leaf);
std::string OwnBrandString();  // empty when the brand leaves are not offered
std::string OwnVendorId();     // the 12 characters of leaf 0
std::string Trimmed(const std::string& text);  // without leading and trailing spaces

// RegGetValueA under HKEY_LOCAL_MACHINE; false when the value cannot be read.
bool OwnRegString(const char* key, const char* value, std::string* out);
bool OwnRegDword(const char* key, const char* value, uint32_t* out);

std::string ExeDir();  // the folder of the running test program, with a trailing backslash

// The "name=value" fields of a profile, in order.
std::vector<std::pair<std::string, std::string>> ProfileFields(const std::string& profile);

// Puts a registry key under HKEY_LOCAL_MACHINE back as it was, values and all (not subkeys), when
// the guard ends: the test may change or delete it meanwhile.
class KeyGuard {
 public:
  explicit KeyGuard(const char* key, bool volatile_key);
  ~KeyGuard();
  void Delete();  // removes the key (with its subkeys) now
  KeyGuard(const KeyGuard&) = delete;
  KeyGuard& operator=(const KeyGuard&) = delete;

 private:
  struct Value {
    std::string name;
    DWORD type;
    std::string data;
  };
  std::string key_;
  bool volatile_;
  bool existed_ = false;
  std::vector<Value> values_;
};

// Create the key if needed and write one value; false when either fails.
bool SetRegString(const char* key, const char* value, const std::string& text, bool with_terminator = true,
                  bool volatile_key = false);
bool SetRegRaw(const char* key, const char* value, DWORD type, const std::string& bytes, bool volatile_key = false);

}  // namespace wintest

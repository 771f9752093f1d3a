// Registry keys a test changes, put back as they were when it ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wintest {

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

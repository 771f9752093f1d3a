#include "registry_guard_win.h"

namespace wintest {

KeyGuard::KeyGuard(const char* key, bool volatile_key) : key_(key), volatile_(volatile_key) {
  HKEY handle;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
  existed_ = true;
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD name_size = sizeof(name);
    BYTE data[4096];
    DWORD data_size = sizeof(data);
    DWORD type = 0;
    if (RegEnumValueA(handle, i, name, &name_size, nullptr, &type, data, &data_size) != ERROR_SUCCESS) break;
    values_.push_back({std::string(name, name_size), type, std::string(reinterpret_cast<char*>(data), data_size)});
  }
  RegCloseKey(handle);
}

void KeyGuard::Delete() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key_.c_str());
}

KeyGuard::~KeyGuard() {
  Delete();
  if (!existed_) return;
  HKEY handle;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, volatile_ ? REG_OPTION_VOLATILE : 0, KEY_WRITE,
                      nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (const Value& v : values_) {
    RegSetValueExA(handle, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                   DWORD(v.data.size()));
  }
  RegCloseKey(handle);
}

bool SetRegRaw(const char* key, const char* value, DWORD type, const std::string& bytes, bool volatile_key) {
  HKEY handle;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, volatile_key ? REG_OPTION_VOLATILE : 0, KEY_WRITE,
                      nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status =
      RegSetValueExA(handle, value, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
  RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

bool SetRegString(const char* key, const char* value, const std::string& text, bool with_terminator,
                  bool volatile_key) {
  return SetRegRaw(key, value, REG_SZ, with_terminator ? std::string(text.c_str(), text.size() + 1) : text,
                   volatile_key);
}

}  // namespace wintest

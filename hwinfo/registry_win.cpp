#include <windows.h>

#include "hwinfo/probes.h"

RegRead ReadMachineRegistry(const char* key, const char* value, void* out, uint32_t capacity, uint32_t* size) {
  *size = 0;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return RegRead::kNoKey;
  DWORD length = capacity;
  const LONG status = RegQueryValueExA(handle, value, nullptr, nullptr, static_cast<BYTE*>(out), &length);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return RegRead::kNoValue;
  *size = length;
  return RegRead::kOk;
}

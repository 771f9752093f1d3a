#include "machine_reads_win.h"

#include <windows.h>

#include <cstring>

namespace wintest {

CpuIdRegs OwnCpuId(uint32_t leaf) {
  uint32_t a, b, c, d;
  __asm__ __volatile__("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(leaf), "c"(0));
  return {a, b, c, d};
}

std::string OwnBrandString() {
  if (OwnCpuId(0x80000000).eax < 0x80000004) return "";
  char brand[49] = {};
  for (uint32_t i = 0; i < 3; ++i) {
    const CpuIdRegs r = OwnCpuId(0x80000002 + i);
    std::memcpy(brand + 16 * i, &r.eax, 4);
    std::memcpy(brand + 16 * i + 4, &r.ebx, 4);
    std::memcpy(brand + 16 * i + 8, &r.ecx, 4);
    std::memcpy(brand + 16 * i + 12, &r.edx, 4);
  }
  return brand;
}

std::string OwnVendorId() {
  const CpuIdRegs r = OwnCpuId(0);
  char id[13] = {};
  std::memcpy(id, &r.ebx, 4);
  std::memcpy(id + 4, &r.edx, 4);
  std::memcpy(id + 8, &r.ecx, 4);
  return id;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool OwnRegString(const char* key, const char* value, std::string* out) {
  char buffer[2048];
  DWORD size = sizeof(buffer);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return false;
  }
  *out = buffer;
  return true;
}

bool OwnRegDword(const char* key, const char* value, uint32_t* out) {
  DWORD number = 0;
  DWORD size = sizeof(number);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_DWORD, nullptr, &number, &size) != ERROR_SUCCESS) {
    return false;
  }
  *out = number;
  return true;
}

std::string ExeDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir = path;
  return dir.substr(0, dir.find_last_of('\\') + 1);
}

std::vector<std::pair<std::string, std::string>> ProfileFields(const std::string& profile) {
  std::vector<std::pair<std::string, std::string>> fields;
  size_t start = 0;
  while (start <= profile.size()) {
    size_t end = profile.find('&', start);
    if (end == std::string::npos) end = profile.size();
    const std::string field = profile.substr(start, end - start);
    const size_t equals = field.find('=');
    fields.emplace_back(field.substr(0, equals), equals == std::string::npos ? "" : field.substr(equals + 1));
    start = end + 1;
  }
  return fields;
}

}  // namespace wintest

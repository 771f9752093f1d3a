#include "win_test_support.h"

#include <cstdio>
#include <cstring>

namespace wintest {

namespace {
int g_failures;  // in the running case
}  // namespace

Outcome::Outcome(bool ok, const char* file, int line, std::string what)
    : ok_(ok), file_(file), line_(line), what_(std::move(what)) {}

Outcome::Outcome(Outcome&& other) noexcept
    : ok_(other.ok_), file_(other.file_), line_(other.line_), what_(std::move(other.what_)) {
  notes_ << other.notes_.str();
  other.reported_ = true;
}

Outcome::~Outcome() {
  if (ok_ || reported_) return;
  ++g_failures;
  std::printf("%s:%d: check failed: %s", file_, line_, what_.c_str());
  const std::string notes = notes_.str();
  if (!notes.empty()) std::printf(" (%s)", notes.c_str());
  std::printf("\n");
}

Outcome CheckStrEq(const char* a, const char* b, const char* text_a, const char* text_b, const char* file, int line) {
  const bool ok = a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
  return Outcome(ok, file, line, std::string(text_a) + " == " + text_b + ": " + Show(a) + " vs " + Show(b));
}

int RunCases(const TestCase* cases, size_t count) {
  int failed = 0;
  for (size_t i = 0; i < count; ++i) {
    std::printf("[ RUN      ] %s\n", cases[i].name);
    std::fflush(stdout);
    g_failures = 0;
    cases[i].run();
    std::printf("%s %s\n", g_failures == 0 ? "[       OK ]" : "[  FAILED  ]", cases[i].name);
    std::fflush(stdout);
    if (g_failures != 0) ++failed;
  }
  std::printf("%d of %d cases failed\n", failed, int(count));
  return failed == 0 ? 0 : 1;
}

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

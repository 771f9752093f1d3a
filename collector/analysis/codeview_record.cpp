#include "codeview_record.h"

#include <cstdio>
#include <cstring>

namespace collector {
namespace {

constexpr uint32_t kRsdsSignature = 0x53445352;  // "RSDS" read as a little-endian 32-bit number
constexpr size_t kRsdsFixedPart = 4 + 16 + 4;    // signature, GUID, age
constexpr size_t kMaxPdbName = 1024;             // MAX_PATH with room; longer is damage

}  // namespace

bool ReadCodeViewRecord(Bytes record, CodeViewInfo* out) {
  *out = CodeViewInfo();
  uint32_t signature = 0;
  if (!ReadLe32(record, 0, &signature) || signature != kRsdsSignature) return false;
  if (record.size < kRsdsFixedPart) return false;
  std::memcpy(out->guid, record.data + 4, 16);
  ReadLe32(record, 20, &out->age);
  const char* name = reinterpret_cast<const char*>(record.data + kRsdsFixedPart);
  size_t room = record.size - kRsdsFixedPart;
  size_t length = strnlen(name, room < kMaxPdbName ? room : kMaxPdbName);
  out->pdb_name.assign(name, length);
  out->present = true;
  return true;
}

std::string DebugId(const CodeViewInfo& codeview, uint32_t time_stamp, uint32_t image_size) {
  char text[64];
  if (!codeview.present) {
    snprintf(text, sizeof text, "%08X%X", time_stamp, image_size);
    return text;
  }
  const uint8_t* g = codeview.guid;
  uint32_t data1 = uint32_t{g[0]} | uint32_t{g[1]} << 8 | uint32_t{g[2]} << 16 | uint32_t{g[3]} << 24;
  unsigned data2 = g[4] | g[5] << 8;
  unsigned data3 = g[6] | g[7] << 8;
  int n = snprintf(text, sizeof text, "%08X%04X%04X", data1, data2, data3);
  for (int i = 8; i < 16; ++i) n += snprintf(text + n, sizeof text - n, "%02X", g[i]);
  snprintf(text + n, sizeof text - n, "%X", codeview.age);
  return text;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace collector

#include "wire_crash_json.h"

#include <algorithm>
#include <cstring>

#include "json_writer.h"
#include "summary_analysis.h"

namespace collector {
namespace {

// Byte ranges and short blocks printed at most: enough to see the pattern of a loss, while an
// 8 MiB package given up early cannot make a line of megabytes.
constexpr size_t kMaxListedLosses = 64;

// The summary's file names are UTF-8; anything else is printed byte by byte.
bool Utf8ToUtf16(const char* text, std::u16string* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    uint32_t c = *p++;
    int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0) return false;
    if (more > 0) c &= 0x3Fu >> more;
    for (int i = 0; i < more; ++i) {
      if ((*p & 0xC0) != 0x80) return false;
      c = c << 6 | (*p++ & 0x3F);
    }
    if (c > 0x10FFFF) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(c));
    }
  }
  return true;
}

void FileName(JsonWriter* json, const char* name) {
  std::u16string wide;
  if (Utf8ToUtf16(name, &wide)) {
    json->Utf16String(wide);
  } else {
    json->ByteString(std::string_view(name));
  }
}

const char* ModuleName(const CrashSummary& s, int index) {
  return index >= 0 && index < s.module_count ? s.modules[index].name : nullptr;
}

void Identity(JsonWriter* json, const std::string& machine_id, uint16_t identity4, uint16_t identity3,
              uint16_t identity1) {
  json->Key("machine_id").String(machine_id);
  json->Key("identity4").Uint(identity4).Key("identity3").Uint(identity3).Key("identity1").Uint(identity1);
}

}  // namespace

std::string CrashSummaryJson(const reassembly::SummaryEvent& event, const SummaryStored& stored) {
  const CrashSummary& s = event.summary;
  JsonWriter json;
  json.BeginObject().Key("event").String("crash_summary");
  Identity(&json, event.machine_id, event.identity4, event.identity3, event.identity1);
  json.Key("wire_id").Uint(s.crash_id).Key("thread_id").Uint(s.thread_id);
  json.Key("exception_code").Uint(s.exception_code).Key("exception_flags").Uint(s.exception_flags);
  json.Key("exception_address").Uint(s.exception_address);
  json.Key("parameters").BeginArray();
  for (int i = 0; i < s.parameter_count && i < kMaxSummaryParameters; ++i) json.Uint(s.parameters[i]);
  json.EndArray();
  json.Key("architecture").String(SummaryArchitectureName(s.architecture));
  json.Key("registers").BeginObject();
  if (const RegisterLayout* layout = SummaryRegisterLayout(s.architecture)) {
    for (int i = 0; i < layout->count && i < kMaxSummaryRegisters; ++i) json.Key(layout->names[i]).Uint(s.registers[i]);
  }
  json.EndObject();
  json.Key("fault_module");
  if (const char* name = ModuleName(s, s.fault_module)) {
    FileName(&json, name);
  } else {
    json.Null();
  }
  json.Key("fault_offset").Uint(s.fault_offset);
  json.Key("frames").BeginArray();
  for (int i = 0; i < s.frame_count; ++i) {
    json.BeginObject().Key("module");
    if (const char* name = ModuleName(s, s.frames[i].module)) {
      FileName(&json, name);
    } else {
      json.Null();
    }
    json.Key("offset").Uint(s.frames[i].offset).EndObject();
  }
  json.EndArray();
  json.Key("modules").BeginArray();
  for (int i = 0; i < s.module_count; ++i) {
    const SummaryModule& m = s.modules[i];
    json.BeginObject().Key("name");
    FileName(&json, m.name);
    json.Key("base").Uint(m.base).Key("size").Uint(m.size).Key("time_stamp").Uint(m.time_stamp);
    json.Key("debug_file");
    FileName(&json, m.debug_file);
    const std::string debug_id = SummaryDebugId(m);
    json.Key("debug_id");
    if (debug_id.empty()) {
      json.Null();
    } else {
      json.String(debug_id);
    }
    json.EndObject();
  }
  json.EndArray();
  json.Key("message").ByteString(std::string_view(s.message, strnlen(s.message, sizeof s.message)));
  json.Key("message_cut").Bool(s.message_cut).Key("frames_cut").Bool(s.frames_cut);
  if (!stored.error.empty()) json.Key("error").String(stored.error);
  if (!stored.signature.empty()) json.Key("signature").ByteString(stored.signature);
  if (stored.crash_id > 0) json.Key("crash_id").Uint(static_cast<uint64_t>(stored.crash_id));
  if (!stored.page.empty()) json.Key("page").String(stored.page);
  json.EndObject();
  return json.str();
}

std::string CrashPackageLostJson(const reassembly::PackageEvent& event) {
  JsonWriter json;
  json.BeginObject().Key("event").String("crash_package_lost");
  Identity(&json, event.machine_id, event.identity4, event.identity3, event.identity1);
  json.Key("wire_id").Uint(event.crash_id).Key("reason").String(event.reason);
  json.Key("package_length").Uint(event.package_length).Key("datagrams").Uint(event.datagrams);
  json.Key("duplicates").Uint(event.duplicates).Key("refused").Uint(event.refused);
  const reassembly::MissingReport& m = event.missing;
  json.Key("missing").BeginObject();
  json.Key("blocks").Uint(m.blocks).Key("short_block_count").Uint(m.short_blocks.size());
  json.Key("short_blocks").BeginArray();
  for (size_t i = 0; i < std::min(m.short_blocks.size(), kMaxListedLosses); ++i) {
    const reassembly::ShortBlock& b = m.short_blocks[i];
    json.BeginObject().Key("block").Uint(b.block).Key("have").Uint(b.have).Key("need").Uint(b.need).EndObject();
  }
  json.EndArray();
  json.Key("missing_byte_count").Uint(m.missing_byte_count);
  json.Key("missing_bytes").BeginArray();
  for (size_t i = 0; i < std::min(m.missing_bytes.size(), kMaxListedLosses); ++i) {
    json.BeginArray().Uint(m.missing_bytes[i].begin).Uint(m.missing_bytes[i].end).EndArray();
  }
  json.EndArray();
  json.EndObject();
  json.EndObject();
  return json.str();
}

}  // namespace collector

#include "datagram_json.h"

#include <cstdio>

#include "json_writer.h"

namespace collector {
namespace {

const char* KindName(uint32_t kind) {
  switch (kind) {
    case KIND_NUMBERS: return "numbers";
    case KIND_TEXT: return "text";
    default: return "blob";
  }
}

void WireKeyFields(JsonWriter* json, uint32_t wire_key) {
  json->Key("wire_key").Uint(wire_key);
  json->Key("scope").Uint(WireScope(wire_key));
  json->Key("key").Uint(WireKeyLow(wire_key));
}

void DataRecord(JsonWriter* json, const Datagram& d, const BlobFile& blob) {
  json->BeginObject();
  WireKeyFields(json, d.data_key);
  json->Key("length").Uint(d.data.size);
  if (d.kind == KIND_TEXT) {
    json->Key("text").ByteString(d.data);
  } else {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a64(d.data)));
    json->Key("fnv1a64").String(std::string_view(hash, 16));
    if (blob.path.empty()) {
      json->Key("file").Null();
      json->Key("file_error").String(blob.error);
    } else {
      json->Key("file").ByteString(blob.path);
    }
  }
  json->EndObject();
}

}  // namespace

uint64_t Fnv1a64(Bytes bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV offset basis
  for (size_t i = 0; i < bytes.size; ++i) {
    hash ^= bytes.data[i];
    hash *= 0x100000001B3ull;  // FNV prime
  }
  return hash;
}

std::string DatagramJson(const Datagram& d, Bytes raw, bool with_raw, const BlobFile& blob) {
  std::string line;
  AppendDatagramJson(d, raw, with_raw, blob, &line);
  return line;
}

std::string InvalidJson(const char* reason, uint64_t invalid_count, Bytes raw, bool with_raw) {
  std::string line;
  AppendInvalidJson(reason, invalid_count, raw, with_raw, &line);
  return line;
}

void AppendDatagramJson(const Datagram& d, Bytes raw, bool with_raw, const BlobFile& blob, std::string* out) {
  JsonWriter json(out);
  json.BeginObject();
  json.Key("event").String("datagram");
  json.Key("size").Uint(raw.size);
  json.Key("protocol").Uint(kProtocol);
  json.Key("kind").String(KindName(d.kind));
  json.Key("machine_id").String(d.machine_id);
  json.Key("identity4").Uint(d.identity4);
  json.Key("identity3").Uint(d.identity3);
  json.Key("identity1").Uint(d.identity1);
  json.Key("payload_length").Uint(d.payload_length);
  json.Key("records").BeginArray();
  if (d.kind == KIND_NUMBERS) {
    for (const NumberRecord& record : d.numbers) {
      json.BeginObject();
      WireKeyFields(&json, record.wire_key);
      json.Key("value").Uint(record.value);
      json.EndObject();
    }
  } else {
    DataRecord(&json, d, blob);
  }
  json.EndArray();
  if (with_raw) json.Key("raw_hex").Hex(raw);
  json.EndObject();
}

void AppendInvalidJson(const char* reason, uint64_t invalid_count, Bytes raw, bool with_raw, std::string* out) {
  JsonWriter json(out);
  json.BeginObject();
  json.Key("event").String("invalid");
  json.Key("size").Uint(raw.size);
  json.Key("reason").String(reason);
  json.Key("invalid_count").Uint(invalid_count);
  if (with_raw) json.Key("raw_hex").Hex(raw);
  json.EndObject();
}

}  // namespace collector

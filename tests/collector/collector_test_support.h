// Helpers shared by the collector's tests: the sender's side of the formats (datagrams and dump
// packages, built as the client builds them) and the recorded minidumps under data/.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bytes.h"

namespace collector_test {

using Buffer = std::vector<uint8_t>;

inline collector::Bytes View(const Buffer& b) { return collector::Bytes{b.data(), b.size()}; }

inline void PutBe16(Buffer* b, uint16_t v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}
inline void PutBe32(Buffer* b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b->push_back(static_cast<uint8_t>(v >> shift));
}
inline void PutLe32(Buffer* b, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) b->push_back(static_cast<uint8_t>(v >> shift));
}

struct Header {
  uint32_t protocol = 1;
  uint32_t kind = 1;
  std::string machine_id = "0123456789ABCDEF";
  uint16_t identity4 = 300, identity3 = 20, identity1 = 7;
};

inline Header WithKind(uint32_t kind) {
  Header h;
  h.kind = kind;
  return h;
}

// A datagram laid out as the client lays it out: the header, then `payload`.
inline Buffer EncodeDatagram(const Header& h, const Buffer& payload) {
  Buffer b;
  PutBe32(&b, h.protocol);
  PutBe32(&b, h.kind);
  b.insert(b.end(), h.machine_id.begin(), h.machine_id.end());
  b.push_back(0);
  PutBe16(&b, h.identity4);
  PutBe16(&b, h.identity3);
  PutBe16(&b, h.identity1);
  PutBe32(&b, static_cast<uint32_t>(payload.size()));
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

inline Buffer NumbersPayload(const std::vector<std::pair<uint32_t, uint32_t>>& records) {
  Buffer p;
  for (const auto& r : records) {
    PutBe32(&p, r.first);
    PutBe32(&p, r.second);
  }
  return p;
}

inline Buffer DataPayload(uint32_t wire_key, const Buffer& data) {
  Buffer p;
  PutBe32(&p, wire_key);
  PutBe32(&p, static_cast<uint32_t>(data.size()));
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

// A dump package as the crash reporter makes it: magic, version 1, then compress2 at level 9 of
// each 131072-byte piece behind its little-endian length.
inline Buffer BuildPackage(const Buffer& dump) {
  Buffer package = {'V', 'G', 'Z', 0, 1};
  const size_t piece = 131072;
  for (size_t at = 0; at < dump.size(); at += piece) {
    uLong in = static_cast<uLong>(std::min(piece, dump.size() - at));
    uLongf out = compressBound(in);
    Buffer chunk(out);
    if (compress2(chunk.data(), &out, dump.data() + at, in, 9) != Z_OK) return Buffer();
    PutLe32(&package, static_cast<uint32_t>(out));
    package.insert(package.end(), chunk.begin(), chunk.begin() + out);
  }
  return package;
}

// The package as it would be cut by the client: whole chunks while they fit in `limit` bytes.
inline Buffer CutPackage(const Buffer& package, size_t limit) {
  return Buffer(package.begin(), package.begin() + static_cast<std::ptrdiff_t>(std::min(limit, package.size())));
}

struct DirectoryEntry {
  uint32_t type, size, rva;
};

// A minidump of `total` bytes: the header, a directory of `entries` right behind it (which may
// claim more entries than listed, through `claimed_count`), then zeros. Streams are placed by
// the caller through their rva, anywhere in the zeros.
inline Buffer SyntheticMinidump(const std::vector<DirectoryEntry>& entries, size_t total, uint32_t claimed_count = 0) {
  Buffer b;
  PutLe32(&b, 0x504D444D);  // "MDMP"
  PutLe32(&b, 0xA793);
  PutLe32(&b, claimed_count ? claimed_count : static_cast<uint32_t>(entries.size()));
  PutLe32(&b, 32);  // the directory follows the 32-byte header
  for (int i = 0; i < 4; ++i) PutLe32(&b, 0);
  for (const DirectoryEntry& e : entries) {
    PutLe32(&b, e.type);
    PutLe32(&b, e.size);
    PutLe32(&b, e.rva);
  }
  if (b.size() < total) b.resize(total, 0);
  return b;
}

inline void PutLe32At(Buffer* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline Buffer ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Buffer(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string DataPath(const std::string& name) { return std::string(VX_COLLECTOR_DATA_DIR) + "/" + name; }

inline Buffer FromHex(const std::string& hex) {
  Buffer out;
  if (hex == "-") return out;  // the generator's mark for an empty value
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// What make_dump.exe wrote beside each dump: the truth as the dumped process saw it.
struct Expect {
  std::vector<uint32_t> thread_ids;
  bool has_exception = false;
  uint32_t exception_thread = 0, exception_code = 0;
  uint64_t exception_address = 0;
  std::string module;  // the program's own path
  std::map<uint32_t, Buffer> streams;
};

inline Expect ReadExpect(const std::string& path) {
  Expect e;
  std::ifstream in(path);
  std::string name;
  while (in >> name) {
    if (name == "thread_id") {
      uint32_t id;
      in >> id;
      e.thread_ids.push_back(id);
    } else if (name == "exception_thread") {
      e.has_exception = true;
      in >> e.exception_thread;
    } else if (name == "exception_code") {
      in >> e.exception_code;
    } else if (name == "exception_address") {
      in >> e.exception_address;
    } else if (name == "module_hex") {
      std::string hex;
      in >> hex;
      Buffer b = FromHex(hex);
      e.module.assign(b.begin(), b.end());
    } else if (name == "stream") {
      uint32_t type;
      std::string hex;
      in >> type >> hex;
      e.streams[type] = FromHex(hex);
    }
  }
  return e;
}

}  // namespace collector_test

// docs/protocol.md shows one worked example of every datagram the library sends. Each is built
// here by the library's own encoders and compared with the document's bytes, so the document
// cannot drift from the code. On a mismatch the test prints the bytes as the document writes them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "client/crash_summary_datagram.h"
#include "client/crc32.h"
#include "client/datagram.h"
#include "client/package_part_datagram.h"
#include "client/package_part_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kMachineId[] = "0123456789ABCDEF";
const DatagramIdentity kWho{kMachineId, 7, 20, 300};  // Identity1, Identity3, Identity4

Bytes Counter() {
  uint8_t out[64];
  const NumberRecord record{5, 1000};
  return Bytes(out, out + BuildNumbersDatagram(out, sizeof out, kWho, &record, 1));
}

Bytes Text() {
  uint8_t out[64];
  return Bytes(out, out + BuildDataDatagram(out, sizeof out, KIND_TEXT, kWho, 9, "hello", 5));
}

// The start of a dump package: magic, version, the first chunk's length and zlib header.
const uint8_t kPackageStart[] = {'V', 'G', 'Z', 0x00, 0x01, 0x2D, 0x01, 0x00, 0x00, 0x78, 0xDA};

Bytes Blob() {
  uint8_t out[64];
  return Bytes(out, out + BuildDataDatagram(out, sizeof out, KIND_BLOB, kWho, 17, kPackageStart, sizeof kPackageStart));
}

Bytes Summary() {
  static CrashSummary s;
  std::memset(&s, 0, sizeof s);
  s.architecture = kArchitectureX86;
  s.crash_id = 0x5EED0001;
  s.thread_id = 0x1A4;
  s.exception_code = 0xC0000005;  // access violation
  s.exception_address = 0x00401234;
  s.parameter_count = 2;
  s.parameters[0] = 1;  // writing
  s.parameters[1] = 0;  // to address 0
  const uint64_t registers[] = {0, 0x0019FF2C, 0x7, 0x0, 0x00401000, 0x0019FF80, 0x0019FF40, 0x0019FF1C, 0x00401234, 0x10246};
  std::memcpy(s.registers, registers, sizeof registers);
  std::snprintf(s.message, sizeof s.message, "%s", "boom");
  s.module_count = 2;
  SummaryModule& game = s.modules[0];
  game.base = 0x00400000;
  game.size = 0x6000;
  game.time_stamp = 0x65A1B2C3;
  game.debug_id_kind = kDebugIdPdb70;
  const uint8_t guid[16] = {0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71, 0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9, 0x0A};
  std::memcpy(game.signature, guid, sizeof guid);
  game.age = 1;
  std::snprintf(game.name, sizeof game.name, "%s", "game.exe");
  std::snprintf(game.debug_file, sizeof game.debug_file, "%s", "game.pdb");
  SummaryModule& kernel = s.modules[1];
  kernel.base = 0x76540000;
  kernel.size = 0xF0000;
  kernel.time_stamp = 0x5A5B5C5D;
  std::snprintf(kernel.name, sizeof kernel.name, "%s", "kernel32.dll");
  s.fault_module = 0;
  s.fault_offset = 0x1234;
  s.frame_count = 3;
  s.frames[0] = {0, 0x1234};
  s.frames[1] = {0, 0x1056};
  s.frames[2] = {1, 0x17C0C};
  uint8_t out[kMaxCrashDatagramSize];
  return Bytes(out, out + BuildCrashSummaryDatagram(out, sizeof out, kWho, s));
}

// A 10-byte package in 4-byte symbols, blocks of 3 with 50% repairs: 3 sources and 2 repairs.
const uint8_t kTinyPackage[10] = {'V', 'G', 'Z', 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x03};
constexpr FecParams kTinyParams = {4, 3, 50, 2};

class TinySource : public PackageSource {
 public:
  int Read(void* buffer, int size) override {
    const int n = std::min(size, int(sizeof kTinyPackage) - at_);
    std::memcpy(buffer, kTinyPackage + at_, size_t(n));
    at_ += n;
    return n;
  }

 private:
  int at_ = 0;
};

std::vector<Bytes> TinyParts() {
  static PackagePartMemory memory;
  TinySource source;
  PackagePartEncoder encoder;
  const PackagePartJob job{kWho, kTinyParams, 0x5EED0001, sizeof kTinyPackage,
                           Crc32Update(0, kTinyPackage, sizeof kTinyPackage)};
  std::vector<Bytes> parts;
  if (!encoder.Begin(&memory, job, &source)) return parts;
  uint8_t out[kMaxCrashDatagramSize];
  int length;
  while ((length = encoder.Next(out, sizeof out)) > 0) parts.emplace_back(out, out + length);
  return parts;
}

std::map<std::string, Bytes> Examples() {
  std::map<std::string, Bytes> examples = {
      {"numbers", Counter()}, {"text", Text()}, {"blob", Blob()}, {"crash-summary", Summary()}};
  const std::vector<Bytes> parts = TinyParts();
  const char* names[] = {"part-source-0", "part-source-1", "part-source-2", "part-repair-0", "part-repair-1"};
  for (size_t i = 0; i < parts.size() && i < 5; ++i) examples[names[i]] = parts[i];
  return examples;
}

// The document's way of writing bytes: an offset, then up to 16 bytes in upper-case hex.
std::string DocumentHex(const Bytes& bytes) {
  std::string text;
  char cell[32];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) {
      std::snprintf(cell, sizeof cell, "%s%04zX:", i ? "\n" : "", i);
      text += cell;
    }
    std::snprintf(cell, sizeof cell, " %02X", bytes[i]);
    text += cell;
  }
  return text + "\n";
}

// Every "<!-- example: NAME -->" followed by a fenced block of offset-prefixed hex lines.
std::map<std::string, Bytes> DocumentExamples(const std::string& path) {
  std::ifstream in(path);
  std::map<std::string, Bytes> found;
  std::string line, name;
  bool inside = false;
  const std::string marker = "<!-- example: ";
  while (std::getline(in, line)) {
    if (line.rfind(marker, 0) == 0) {
      name = line.substr(marker.size(), line.find(" -->") - marker.size());
    } else if (!name.empty() && line.rfind("```", 0) == 0) {
      inside = !inside;
      if (!inside) name.clear();
    } else if (inside) {
      std::istringstream words(line.substr(line.find(':') + 1));
      std::string word;
      while (words >> word) found[name].push_back(uint8_t(std::stoul(word, nullptr, 16)));
    }
  }
  return found;
}

TEST(ProtocolDocument, WorkedExamplesAreTheEncodersBytes) {
  const std::map<std::string, Bytes> document = DocumentExamples(VX_PROTOCOL_DOCUMENT);
  const std::map<std::string, Bytes> examples = Examples();
  ASSERT_EQ(examples.size(), 9u) << "every example was built";
  for (const auto& [name, bytes] : examples) {
    ASSERT_FALSE(bytes.empty()) << name;
    auto it = document.find(name);
    EXPECT_TRUE(it != document.end() && it->second == bytes)
        << "docs/protocol.md, example " << name << " should read:\n<!-- example: " << name << " -->\n```text\n"
        << DocumentHex(bytes) << "```";
  }
  EXPECT_EQ(document.size(), examples.size()) << "the document has examples no encoder makes";
}

}  // namespace

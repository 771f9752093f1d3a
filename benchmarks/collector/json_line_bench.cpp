// The collector's datagram line written by its own JsonWriter and by nlohmann-json, side by side:
// the time per line for a 43-byte number report and for a 512-byte GBK text, and whether the
// bytes are those of the lines' contract (each byte as the code point of the same value, \u00XX
// for every control and every byte above ASCII).
//
//   json_line_bench [LINES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "datagram_decoder.h"
#include "datagram_json.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Datagram(uint32_t kind, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> d = {0, 0, 0, 1, 0, 0, 0, static_cast<uint8_t>(kind)};
  const char* id = "0123456789ABCDEF";
  d.insert(d.end(), id, id + 16);
  d.push_back(0);
  const uint8_t ids[6] = {1, 44, 0, 20, 0, 7};
  d.insert(d.end(), ids, ids + 6);
  uint32_t n = static_cast<uint32_t>(payload.size());
  for (int s = 24; s >= 0; s -= 8) d.push_back(static_cast<uint8_t>(n >> s));
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

// The same line through nlohmann-json: bytes widened to code points (its strings are UTF-8), then
// dumped with every non-ASCII character escaped.
std::string NlohmannLine(const collector::Datagram& d, collector::Bytes raw) {
  nlohmann::ordered_json line;
  line["event"] = "datagram";
  line["size"] = raw.size;
  line["protocol"] = 1;
  line["kind"] = d.kind == collector::KIND_NUMBERS ? "numbers" : "text";
  line["machine_id"] = d.machine_id;
  line["identity4"] = d.identity4;
  line["identity3"] = d.identity3;
  line["identity1"] = d.identity1;
  line["payload_length"] = d.payload_length;
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  if (d.kind == collector::KIND_NUMBERS) {
    for (const collector::NumberRecord& r : d.numbers) {
      records.push_back({{"wire_key", r.wire_key}, {"scope", r.wire_key >> 16}, {"key", r.wire_key & 0xFFFF},
                         {"value", r.value}});
    }
  } else {
    std::string widened;
    for (size_t i = 0; i < d.data.size; ++i) {
      uint8_t b = d.data.data[i];
      if (b < 0x80) {
        widened += static_cast<char>(b);
      } else {
        widened += static_cast<char>(0xC0 | b >> 6);
        widened += static_cast<char>(0x80 | (b & 0x3F));
      }
    }
    records.push_back({{"wire_key", d.data_key}, {"scope", d.data_key >> 16}, {"key", d.data_key & 0xFFFF},
                       {"length", d.data.size}, {"text", widened}});
  }
  line["records"] = records;
  return line.dump(-1, ' ', true);
}

template <typename Write>
double NanosecondsPerLine(int lines, Write write) {
  Clock::time_point start = Clock::now();
  size_t total = 0;
  for (int i = 0; i < lines; ++i) total += write();
  double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / lines;
  if (total == 0) std::abort();  // keeps the work from being optimised away
  return ns;
}

}  // namespace

int main(int argc, char** argv) {
  int lines = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::vector<uint8_t> text;
  const char gbk[] = "\xD3\xCE\xCF\xB7\xB1\xC0\xC0\xA3\r\n\t";
  while (text.size() < 504) text.insert(text.end(), gbk, gbk + sizeof gbk - 1);
  text.resize(504);
  std::vector<uint8_t> text_payload = {0, 20, 0, 104, 0, 0, 1, 248};
  text_payload.insert(text_payload.end(), text.begin(), text.end());
  struct Case {
    const char* name;
    std::vector<uint8_t> datagram;
  } cases[] = {
      {"43-byte number report", Datagram(1, {0, 20, 0, 5, 0, 0, 3, 232})},
      {"512-byte GBK text", Datagram(2, text_payload)},
  };
  std::printf("%d lines each\n", lines);
  for (const Case& c : cases) {
    collector::Bytes raw{c.datagram.data(), c.datagram.size()};
    collector::DecodeResult decoded = collector::DecodeDatagram(raw);
    if (decoded.reason) return 1;
    std::string ours_line;
    double ours = NanosecondsPerLine(lines, [&] {
      ours_line.clear();
      collector::AppendDatagramJson(decoded.datagram, raw, false, collector::BlobFile(), &ours_line);
      return ours_line.size();
    });
    std::string theirs_line;
    double theirs = NanosecondsPerLine(lines, [&] {
      theirs_line = NlohmannLine(decoded.datagram, raw);
      return theirs_line.size();
    });
    std::printf("%-22s  JsonWriter %7.0f ns/line   nlohmann-json %7.0f ns/line   ratio %.1f   same bytes: %s\n", c.name,
                ours, theirs, theirs / ours, ours_line == theirs_line ? "yes" : "no");
    if (ours_line != theirs_line) {
      size_t at = 0;
      while (at < ours_line.size() && at < theirs_line.size() && ours_line[at] == theirs_line[at]) ++at;
      std::printf("    first difference at byte %zu: ours \"%.24s\" theirs \"%.24s\"\n", at, ours_line.c_str() + at,
                  theirs_line.c_str() + at);
    }
  }
  return 0;
}

#include "client/client_config.h"

#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Parses [begin, end) as one ServerHost piece.
ServerEntry ParsePiece(const char* begin, const char* end, int default_port) {
  ServerEntry entry{};
  const char* colon = static_cast<const char*>(std::memchr(begin, ':', size_t(end - begin)));
  const char* host_end = colon ? colon : end;
  size_t host_length = size_t(host_end - begin);
  if (host_length > size_t(kServerHostSize - 1)) host_length = kServerHostSize - 1;
  std::memcpy(entry.host, begin, host_length);
  int port = default_port;
  if (colon) {
    char digits[kConfigValueSize] = {};
    size_t n = size_t(end - colon - 1);
    if (n > sizeof digits - 1) n = sizeof digits - 1;
    std::memcpy(digits, colon + 1, n);
    int32_t parsed = ParseConfigInt(digits);
    if (parsed > 0) port = parsed;
  }
  entry.port = int16_t(uint16_t(port));  // ports are kept in 16 bits
  return entry;
}

// A positive number of kilobytes within [low, high]; the default for zero, negative or no number.
uint32_t ParseKilobytes(const char* text, const char* default_text, int32_t low, int32_t high) {
  int32_t value = ParseConfigInt(text);
  if (value <= 0) value = ParseConfigInt(default_text);
  if (value < low) value = low;
  if (value > high) value = high;
  return uint32_t(value) * 1024u;
}

}  // namespace

int32_t ParseConfigInt(const char* text) {
  if (!text) return 0;
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return int32_t(value);
}

int ParseServerList(const char* text, int default_port, ServerEntry* out) {
  int count = 0;
  const char* p = text;
  while (*p && count < kMaxServers) {
    while (*p == ';') ++p;  // runs of separators count as one, and ends produce no piece
    if (!*p) break;
    const char* end = std::strchr(p, ';');
    if (!end) end = p + std::strlen(p);
    out[count++] = ParsePiece(p, end, default_port);
    p = end;
  }
  return count;
}

void ParseClientConfig(const ConfigValues& values, ClientConfig& out) {
  std::memset(&out, 0, sizeof out);
  int32_t default_port = ParseConfigInt(values.server_port);
  if (default_port == 0) default_port = kDefaultServerPort;
  out.server_count = uint8_t(ParseServerList(values.server_host, default_port, out.servers));
  out.chosen_port = int16_t(uint16_t(default_port));  // what an empty list leaves behind
  out.cycle_gather = ParseConfigInt(values.cycle_gather);
  out.send_attempts = ParseConfigInt(values.repeat_send) != 0 ? 5 : 1;
  out.crash_summary = ParseConfigInt(values.crash_summary) != 0;
  out.crash_package_whole = ParseConfigInt(values.crash_package_whole) != 0;
  out.crash_package_rate = ParseKilobytes(values.crash_package_rate, kDefaultCrashPackageRateText,
                                          kMinCrashPackageRateKb, kMaxCrashPackageRateKb);
  out.crash_package_limit = ParseKilobytes(values.crash_package_limit, kDefaultCrashPackageLimitText,
                                           kMinCrashPackageLimitKb, kMaxCrashPackageLimitKb);
}

ConfigValues DefaultConfigValues() {
  return ConfigValues{kDefaultServerPortText,        kDefaultServerHostText,
                      kDefaultCycleGatherText,       kDefaultRepeatSendText,
                      kDefaultCrashSummaryText,      kDefaultCrashPackageWholeText,
                      kDefaultCrashPackageRateText,  kDefaultCrashPackageLimitText};
}

// HVInfo.conf, section HVINFO: where to send and how. Portable: the Windows side reads the values
// with the private-profile reader and hands them in as texts.
#pragma once

#include <cstdint>

constexpr int kMaxServers = 16;
constexpr int kServerHostSize = 16;  // any dotted IPv4 address and its terminator
constexpr int kChosenHostSize = 32;
constexpr int kDefaultServerPort = 12345;
constexpr int kConfigValueSize = 256;  // one private-profile read per value

// Defaults used for keys that are absent, and for a file that is not there.
constexpr const char* kDefaultServerPortText = "12345";
constexpr const char* kDefaultServerHostText = "127.0.0.1";
constexpr const char* kDefaultCycleGatherText = "0";
constexpr const char* kDefaultRepeatSendText = "1";

// The crash report's additions to the wire, each off unless its key is nonzero, so that a server
// that knows only the three report kinds receives exactly what it always did.
constexpr const char* kDefaultCrashSummaryText = "0";
constexpr const char* kDefaultCrashPackageWholeText = "0";
// CrashPackageRate, kilobytes per second of the whole package: 128 KB/s is about 1 Mbit/s, what
// the slowest common uplinks (ADSL) carry, so the package does not queue behind itself there; a
// package of 256 KB goes out in the 2 s the user waits before the crash message box, and a 2 MB
// one in 16 s, while the box is shown.
constexpr const char* kDefaultCrashPackageRateText = "128";
// CrashPackageLimit, kilobytes: a larger package goes only as the key-17 blob. A minidump of the
// default kind with a screenshot packs to well under 2 MB; more would keep the process alive for
// minutes at the default rate.
constexpr const char* kDefaultCrashPackageLimitText = "2048";
constexpr int32_t kMinCrashPackageRateKb = 16;
constexpr int32_t kMaxCrashPackageRateKb = 12500;  // 100 Mbit/s
constexpr int32_t kMinCrashPackageLimitKb = 64;
constexpr int32_t kMaxCrashPackageLimitKb = 65536;
struct ServerEntry {
  char host[kServerHostSize];
  int16_t port;
};

struct ConfigValues {
  const char* server_port;
  const char* server_host;
  const char* cycle_gather;
  const char* repeat_send;
  const char* crash_summary;
  const char* crash_package_whole;
  const char* crash_package_rate;
  const char* crash_package_limit;
};

struct ClientConfig {
  ServerEntry servers[kMaxServers];
  uint8_t server_count;
  char chosen_host[kChosenHostSize];
  int32_t chosen_port;
  int32_t cycle_gather;
  uint32_t send_attempts;  // 1, or 5 when ClientRepeatSend is nonzero
  bool crash_summary;                // CrashSummary nonzero
  bool crash_package_whole;          // CrashPackageWhole nonzero
  uint32_t crash_package_rate;       // bytes per second
  uint32_t crash_package_limit;      // bytes
};

// Reads a decimal integer the way the C library's atoi does (leading blanks, a sign, the leading
// digits; 0 when the text does not start with a number), saturating instead of overflowing.
int32_t ParseConfigInt(const char* text);

// Splits a ServerHost value at ';' into at most kMaxServers entries. Hosts longer than 15
// characters are cut to 15. Returns the number of entries.
int ParseServerList(const char* text, int default_port, ServerEntry* out);

// Everything but the server choice, which needs the clock (see server_choice.h).
void ParseClientConfig(const ConfigValues& values, ClientConfig& out);

// The configuration of a machine without HVInfo.conf.
ConfigValues DefaultConfigValues();

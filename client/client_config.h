// HVInfo.conf, section HVINFO: where to send and how. Portable: the Windows side reads the four
// values with the private-profile reader and hands them in as texts.
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

struct ServerEntry {
  char host[kServerHostSize];
  int16_t port;
};

struct ConfigValues {
  const char* server_port;
  const char* server_host;
  const char* cycle_gather;
  const char* repeat_send;
};

struct ClientConfig {
  ServerEntry servers[kMaxServers];
  uint8_t server_count;
  char chosen_host[kChosenHostSize];
  int32_t chosen_port;
  int32_t cycle_gather;
  uint32_t send_attempts;  // 1, or 5 when ClientRepeatSend is nonzero
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

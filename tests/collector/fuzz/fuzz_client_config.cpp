// The client's HVInfo.conf values: the integer reader, the server list and the whole parse.
#include <cstring>

#include "client/client_config.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> texts = collector_fuzz::Texts(data, size, 4);
  ParseConfigInt(texts[0].c_str());
  ServerEntry servers[kMaxServers];
  int count = ParseServerList(texts[1].c_str(), ParseConfigInt(texts[0].c_str()), servers);
  collector_fuzz::Require(count >= 0 && count <= kMaxServers, "server count out of range");
  for (int i = 0; i < count; ++i) {
    collector_fuzz::Require(std::memchr(servers[i].host, 0, kServerHostSize) != nullptr, "host not terminated");
  }
  ConfigValues values{texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str()};
  ClientConfig config;
  ParseClientConfig(values, config);
  collector_fuzz::Require(config.server_count <= kMaxServers, "config server count out of range");
  collector_fuzz::Require(config.send_attempts == 1 || config.send_attempts == 5, "send attempts not 1 or 5");
  return 0;
}

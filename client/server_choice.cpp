#include "client/server_choice.h"

#include <cstring>

int Lcg::Next() {
  state = state * 214013u + 2531011u;
  return int((state >> 16) & 0x7FFF);
}

void ChooseServer(ClientConfig& config, int32_t now, uint32_t& selection_counter) {
  if (config.server_count == 0) return;
  selection_counter = selection_counter % 1000 + 1;
  Lcg generator{uint32_t(now) * selection_counter};
  const ServerEntry& entry = config.servers[generator.Next() % config.server_count];
  std::memset(config.chosen_host, 0, sizeof config.chosen_host);
  std::memcpy(config.chosen_host, entry.host, sizeof entry.host);
  config.chosen_port = entry.port;  // sign-extended, as the entry keeps it
}

// Picks one collection server at random, so that a fleet of games spreads over the list.
#pragma once

#include <cstdint>

#include "client/client_config.h"

// The C runtime's linear congruential generator, kept here so every build picks alike.
struct Lcg {
  uint32_t state;
  int Next();  // 0..0x7FFF
};

// Advances selection_counter, seeds the generator with now x counter and stores the chosen entry in
// config.chosen_host and chosen_port. Does nothing for an empty list.
void ChooseServer(ClientConfig& config, int32_t now, uint32_t& selection_counter);

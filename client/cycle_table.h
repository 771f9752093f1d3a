// Numbers gathered between timed flushes. Entries are taken first-fit and never given back, so the
// entries in use always form an unbroken run from entry 0 and a walk may stop at the first free one.
#pragma once

#include <cstdint>

#include "client/datagram.h"

constexpr int kCycleTableSize = 50;

struct CycleEntry {
  int32_t in_use;
  int32_t key;
  uint32_t value;
};

struct CycleTable {
  CycleEntry entries[kCycleTableSize];
};

// Adds delta to the key's value (32-bit wrap-around). -1 when the table is full of other keys.
int CycleTableAdd(CycleTable& table, int32_t key, uint32_t delta);
// Sets the key's value. -1 when the table is full of other keys.
int CycleTableSet(CycleTable& table, int32_t key, uint32_t value);

// Copies the entries in use into records (kCycleTableSize of them at most) and returns how many.
// With reset, each copied entry's value goes back to 0; the entry keeps its key.
int CycleTableCollect(CycleTable& table, NumberRecord* records, bool reset);

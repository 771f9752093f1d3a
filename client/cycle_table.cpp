#include "client/cycle_table.h"

namespace {

// The entry holding key, or the first free one, or null when all are taken by other keys.
CycleEntry* FindOrTake(CycleTable& table, int32_t key) {
  for (CycleEntry& entry : table.entries) {
    if (!entry.in_use) {
      entry.in_use = 1;
      entry.key = key;
      return &entry;
    }
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

}  // namespace

int CycleTableAdd(CycleTable& table, int32_t key, uint32_t delta) {
  CycleEntry* entry = FindOrTake(table, key);
  if (!entry) return -1;
  entry->value += delta;
  return 0;
}

int CycleTableSet(CycleTable& table, int32_t key, uint32_t value) {
  CycleEntry* entry = FindOrTake(table, key);
  if (!entry) return -1;
  entry->value = value;
  return 0;
}

int CycleTableCollect(CycleTable& table, NumberRecord* records, bool reset) {
  int count = 0;
  for (CycleEntry& entry : table.entries) {
    if (!entry.in_use) break;
    records[count].key = entry.key;
    records[count].value = entry.value;
    ++count;
    if (reset) entry.value = 0;
  }
  return count;
}

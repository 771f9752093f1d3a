#include "hwinfo/registry_source.h"

RegRead ReadRegistryText(RegistryReader read, const char* key, const char* value, char* out, uint32_t capacity) {
  uint32_t size = 0;
  const RegRead result = read(key, value, out, capacity, &size);
  if (result != RegRead::kOk) {
    out[0] = '\0';
    return result;
  }
  out[size < capacity ? size : capacity - 1] = '\0';
  return result;
}

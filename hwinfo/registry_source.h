// How the probes read the registry: one reader function, so the decisions built on the values can
// be fed recorded values in tests and the real registry on Windows.
#pragma once

#include <cstdint>

enum class RegRead {
  kNoKey,    // the key could not be opened for query
  kNoValue,  // the key opened but the value could not be read into the buffer
  kOk,
};

// Reads value `value` of key `key` under HKEY_LOCAL_MACHINE into out (capacity bytes), whatever the
// value's type; *size receives the number of bytes stored. The key is opened for query only.
using RegistryReader = RegRead (*)(const char* key, const char* value, void* out, uint32_t capacity,
                                   uint32_t* size);

// Reads a string value into out (capacity bytes, at least 1) and always leaves it terminated: the
// registry stores a string's terminator only if whoever wrote it did, so a value that fills the
// buffer loses its last byte to the terminator. On kNoKey and kNoValue out holds an empty string.
RegRead ReadRegistryText(RegistryReader read, const char* key, const char* value, char* out, uint32_t capacity);

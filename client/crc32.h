// CRC-32 as zlib and PKZIP compute it (reflected polynomial 0xEDB88320): the package parts carry
// the whole package's checksum, so the collector can tell a rebuilt package from a wrong one.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues crc over n more bytes; start with 0. Crc32Update(0, "123456789", 9) is 0xCBF43926.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t n);

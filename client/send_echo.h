// The transport's echo of every datagram on standard output: a hex dump and a status line.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes FormatSendEcho needs for a datagram of length bytes, terminator included.
size_t SendEchoSize(size_t length);

// Writes the hex dump of bytes and "SendOut:%d RepSendCount:%d\n" into out; returns the number
// of characters written (without the terminator), or 0 when capacity is too small.
size_t FormatSendEcho(const uint8_t* bytes, size_t length, int last_result, int failed_tries, char* out,
                      size_t capacity);

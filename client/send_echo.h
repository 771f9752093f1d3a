// The transport's echo of every datagram on standard output: a hex dump and a status line.
#pragma once

#include <cstddef>
#include <cstdint>

// Characters of the whole echo of a datagram of length bytes: "xx " per byte, two blanks after
// every 8th byte and a line feed before every 16th, the final line feed, and the status line.
constexpr size_t kSendEchoStatusMax = 48;  // "SendOut:%d RepSendCount:%d\n" with two 11-digit numbers
constexpr size_t SendEchoSize(size_t length) {
  return length * 3 + (length / 8) * 2 + length / 16 + 1 + kSendEchoStatusMax;
}

// The smallest piece WriteSendEcho works with: the status line in one piece.
constexpr size_t kSendEchoMinPiece = kSendEchoStatusMax;

// Receives the echo piece by piece, in order.
typedef void (*SendEchoSink)(void* context, const char* text, size_t size);

// Formats the hex dump of bytes and "SendOut:%d RepSendCount:%d\n" into piece, which holds
// piece_size bytes (at least kSendEchoMinPiece), and hands it to sink whenever the next part would
// not fit, and once at the end: the echo of the largest datagram goes out through a small fixed
// buffer. An echo that fits piece whole is handed over in one call. Nothing is terminated.
void WriteSendEcho(const uint8_t* bytes, size_t length, int last_result, int failed_tries, char* piece,
                   size_t piece_size, SendEchoSink sink, void* context);

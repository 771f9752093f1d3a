// A datagram off the network: decoded, and printed within the line bound.
#include <string>

#include "datagram_decoder.h"
#include "datagram_json.h"
#include "fuzz_input.h"
#include "input_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace collector;
  Bytes in{data, size};
  DecodeResult decoded = DecodeDatagram(in);
  std::string line;
  if (decoded.reason) {
    AppendInvalidJson(decoded.reason, 1, in, true, &line);
  } else {
    AppendDatagramJson(decoded.datagram, in, true, BlobFile{"", "not saved"}, &line);
    collector_fuzz::Require(decoded.datagram.payload_length + kHeaderSize == size, "accepted with a wrong length");
  }
  if (size <= kMaxBlobLength + kHeaderSize + kDataRecordHeader) {
    collector_fuzz::Require(line.size() <= kMaxDatagramLineBytes, "datagram line over its bound");
  }
  for (char c : line) collector_fuzz::Require(c >= 0x20 && c < 0x7F, "a line byte outside printable ASCII");
  return 0;
}

// The letter codes of HVModule.dat's flag sets.
#include "crashmodule/letter_codes.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = collector_fuzz::Texts(data, size, 1)[0];
  ParseLevelFlags(text.c_str());
  uint32_t dump = ParseDumpFlags(text.c_str());
  collector_fuzz::Require((dump & ~0xF7307u) == 0, "a dump flag no letter names");
  ParseLogFormatFlags(text.c_str());
  return 0;
}

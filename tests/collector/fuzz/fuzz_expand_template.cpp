// The module's %PRODUCT%, %SERIES% and %VERSION% expansion, into destinations of every size.
#include <cstring>
#include <vector>

#include "crashmodule/expand_template.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t destination_size = (size_t{data[0]} << 8 | data[1]) % 4096;
  std::vector<std::string> texts = collector_fuzz::Texts(data + 2, size - 2, 4);
  std::vector<char> destination(destination_size + 1, 'X');  // one guard byte past the end
  bool ok = ExpandTemplateText(texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(),
                               destination.data(), destination_size);
  collector_fuzz::Require(destination[destination_size] == 'X', "wrote past the destination");
  if (ok) {
    collector_fuzz::Require(std::memchr(destination.data(), 0, destination_size) != nullptr, "result not terminated");
  }
  // The same buffer as source and destination is allowed.
  if (destination_size > 0 && texts[0].size() < destination_size) {
    std::memcpy(destination.data(), texts[0].c_str(), texts[0].size() + 1);
    ExpandTemplateText(destination.data(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(), destination.data(),
                       destination_size);
    collector_fuzz::Require(destination[destination_size] == 'X', "wrote past the destination in place");
  }
  return 0;
}

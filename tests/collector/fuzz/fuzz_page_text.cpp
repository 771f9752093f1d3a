// What the pages make of a player's bytes: valid UTF-8 with nothing that could open a tag or an
// attribute, and the hardware profile taken apart.
#include "fuzz_input.h"
#include "pages/hardware_profile_fields.h"
#include "pages/html.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<uint8_t>(s[i + k]) >> 6) != 2) return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string html = collector::ClientHtml(bytes);
  collector_fuzz::Require(ValidUtf8(html), "page text is not UTF-8");
  collector_fuzz::Require(html.find_first_of("<>\"'") == std::string::npos, "markup passed through");
  for (const collector::ProfileField& f : collector::HardwareProfileFields(bytes)) {
    collector_fuzz::Require(f.name.find('&') == std::string::npos && f.value.find('&') == std::string::npos,
                            "a field holds the separator");
  }
  return 0;
}

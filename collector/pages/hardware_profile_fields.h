// The client's hardware profile text (key 18: "id=...&cname=...&...&dx=9") taken apart into
// labelled fields for the crash page.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace collector {

struct ProfileField {
  std::string name;   // as sent ("cname")
  std::string label;  // what a developer reads ("Processor"); the name itself when unknown
  std::string value;  // the client's bytes
};

// Splits at '&' and each field at its first '='; a piece without '=' is kept with an empty name.
std::vector<ProfileField> HardwareProfileFields(std::string_view profile);

}  // namespace collector

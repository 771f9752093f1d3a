#include "pages/hardware_profile_fields.h"

namespace collector {
namespace {

struct FieldLabel {
  const char* name;
  const char* label;
};

// The fields the client writes, in its order.
constexpr FieldLabel kLabels[] = {
    {"id", "Machine identifier"},       {"cname", "Processor"},
    {"cvendor", "Processor vendor"},    {"cmodel", "Processor model code"},
    {"cspeed_reg", "Clock (MHz)"},      {"cmmx", "MMX"},
    {"csse", "SSE"},                    {"csse2", "SSE2"},
    {"c3dnow", "3DNow!"},               {"cht", "Hyper-threading"},
    {"winver", "Windows version code"}, {"vname_reg", "Graphics adapter"},
    {"vvendor", "Graphics vendor"},     {"vmodel", "Graphics model class"},
    {"mem1", "Memory (MiB)"},           {"mem2", "Page file (MiB)"},
    {"dx", "DirectX level"},
};

std::string LabelOf(const std::string& name) {
  for (const FieldLabel& l : kLabels) {
    if (name == l.name) return l.label;
  }
  return name;
}

}  // namespace

std::vector<ProfileField> HardwareProfileFields(std::string_view profile) {
  std::vector<ProfileField> fields;
  size_t at = 0;
  while (at <= profile.size()) {
    size_t end = profile.find('&', at);
    if (end == std::string_view::npos) end = profile.size();
    std::string_view piece = profile.substr(at, end - at);
    if (!piece.empty()) {
      size_t equals = piece.find('=');
      ProfileField field;
      if (equals != std::string_view::npos) {
        field.name = std::string(piece.substr(0, equals));
        field.value = std::string(piece.substr(equals + 1));
      } else {
        field.value = std::string(piece);
      }
      field.label = LabelOf(field.name);
      fields.push_back(field);
    }
    at = end + 1;
  }
  return fields;
}

}  // namespace collector

// The module's Windows-side members, for a native build of the object. The two loads go through
// the same decisions as on Windows, reading the test's map instead of the files; the members
// that would reach the platform record their calls.
#include "native_module_members.h"

#include "crashmodule/expand_template.h"
#include "crashmodule/module_settings.h"
#include "crashmodule/vx_exception.h"

MapProfileReader* g_test_profile = nullptr;
std::vector<OutputCall> g_output_calls;

namespace {

MapProfileReader g_empty_profile;

ProfileReader* CurrentProfile() {
  return g_test_profile != nullptr ? g_test_profile : &g_empty_profile;
}

}  // namespace

bool VXException::Init() { return true; }

bool VXException::LoadVersionInfo(const char* settings_path, const char* version_path) {
  return ApplyVersionInfo(this, CurrentProfile(), settings_path, version_path);
}

bool VXException::LoadSettings(const char* settings_path) {
  return ApplySettings(this, CurrentProfile(), settings_path);
}

bool VXException::ExpandTemplate(const char* source, char* destination, size_t destination_size) {
  return ExpandTemplateText(source, product_, series_, version_, destination, destination_size);
}

void VXException::Output(const char* message, const char* source, const char* level_name,
                         uint32_t level, uint32_t code_address) {
  g_output_calls.push_back({message ? message : "(null)", source ? source : "(null)",
                            level_name, level, code_address});
}

bool VXException::DumpProgram(uint32_t, struct _EXCEPTION_POINTERS*, uint32_t) { return false; }

bool VXException::ShowUserInfoDialog(DumpFormat*, UserInfo*) { return false; }

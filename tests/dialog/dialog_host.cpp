// dialog_host SCENARIO: shows the user-description dialog for one scenario of
// dialog_scenarios.h through ShowUserInfoDialogFor and prints what it received, each text in hex.
// Exit code 0 when the dialog ran and every text is the scenario's.
#include <cstdio>
#include <cstring>

#include "crashcapture/crash_capture.h"
#include "tests/dialog/dialog_scenarios.h"

namespace {

template <size_t N>
void CopySetting(char (&field)[N], const std::string& text) {
  snprintf(field, N, "%s", text.c_str());
}

void PrintHex(const char* name, const char* text) {
  printf("%s=", name);
  for (const char* p = text; *p != 0; ++p) printf("%02X", static_cast<unsigned char>(*p));
  printf("\n");
}

template <size_t N>
bool Check(const char* name, const char (&got)[N], const std::string& want) {
  if (memchr(got, 0, N) == nullptr) {
    printf("MISMATCH %s: no terminator within %zu bytes\n", name, N);
    return false;
  }
  if (want == got) return true;
  printf("MISMATCH %s: want %zu bytes, got %zu\n", name, want.size(), strlen(got));
  PrintHex("want", want.c_str());
  PrintHex("got", got);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const DialogScenario* scenario = argc == 2 ? FindDialogScenario(argv[1]) : nullptr;
  if (scenario == nullptr) {
    fprintf(stderr, "usage: dialog_host SCENARIO\n");
    return 2;
  }
  DumpFormat format = {};
  format.flags = scenario->flags;
  CopySetting(format.title, scenario->title);
  CopySetting(format.info1, scenario->info1);
  CopySetting(format.info2, scenario->info2);
  CopySetting(format.info3, scenario->info3);

  // Not zero-filled as DumpProgram leaves it: every text must still come back terminated.
  UserInfo info;
  memset(&info, 'X', sizeof info);
  const bool shown = ShowUserInfoDialogFor(format, &info, scenario->time_limit_seconds);
  printf("shown=%d\n", shown ? 1 : 0);
  bool ok = shown;
  ok &= Check("text1", info.text1, scenario->want1);
  ok &= Check("text2", info.text2, scenario->want2);
  ok &= Check("text3", info.text3, scenario->want3);
  if (ok) {
    PrintHex("text1", info.text1);
    PrintHex("text2", info.text2);
    PrintHex("text3", info.text3);
  }
  printf("%s\n", ok ? "host: received what was typed" : "host: FAILED");
  return ok ? 0 : 1;
}

// A small game-like host: what a studio's integration of VXIdent looks like.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "VXIdent.h"

namespace {

// The studio's own report keys.
enum DemoKey {
  kKeyFramesRendered = 100,
  kKeyLevelsLoaded = 101,
  kKeyPlayerLevel = 102,
  kKeyResolution = 103,
  kKeySessionNote = 104,
  kKeySaveGame = 105,
};

void Step(const char* what, int result) { std::fprintf(stderr, "demo: %-44s -> %d\n", what, result); }

}  // namespace

int main() {
  Step("VXIdent_Init", VXIdent_Init());
  // The identities: player account, product and build. Nothing is reported before all three.
  Step("identity 1 (account 4242)", VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY1, 4242, VXIDENT_SEND_NOW));
  Step("identity 3 (product 20)", VXIdent_Set_Counter(VXIDENT_KEY_IDENTITY3, 20, VXIDENT_SEND_NOW));
  Step("identity 4 (build 300)", VXIdent_Set_Int(VXIDENT_KEY_IDENTITY4, 300, VXIDENT_SEND_NOW));

  Step("counter levels loaded +1, at once", VXIdent_Set_Counter(kKeyLevelsLoaded, 1, VXIDENT_SEND_NOW));
  Step("integer resolution 1920, at once", VXIdent_Set_Int(kKeyResolution, 1920, VXIDENT_SEND_NOW));
  for (int frame = 0; frame < 600; ++frame) VXIdent_Set_Counter(kKeyFramesRendered, 1, VXIDENT_GATHER);
  Step("600 gathered frame counters", 0);
  Step("integer player level 7, gathered", VXIdent_Set_Int(kKeyPlayerLevel, 7, VXIDENT_GATHER));
  Step("text session note", VXIdent_Set_Str(kKeySessionNote, "demo session: all systems nominal"));
  Step("hardware profile (key 18, empty text)", VXIdent_Set_Str(VXIDENT_KEY_HARDWARE_PROFILE, ""));
  unsigned char save[3000];
  for (unsigned i = 0; i < sizeof save; ++i) save[i] = (unsigned char)(i * 7);
  Step("blob save game, 3000 bytes", VXIdent_Set_Bin(kKeySaveGame, save, sizeof save));
  Step("VXIdent_Fin", VXIdent_Fin());

  // And then the game crashes: the library's handler writes the minidump, sends the dump package
  // under key 17 and ends the process with exit code 1.
  std::fprintf(stderr, "demo: writing through a null pointer\n");
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}

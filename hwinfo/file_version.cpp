#include "hwinfo/file_version.h"

int CompareFileVersion(FileVersion a, FileVersion b) {
  if (a.ms != b.ms) return a.ms > b.ms ? 1 : -1;
  if (a.ls != b.ls) return a.ls > b.ls ? 1 : -1;
  return 0;
}

// The module's platform on Windows: the private-profile reader and the calls behind the level
// actions L, D, M, T and E.
#pragma once

#include "crashmodule/module_wiring.h"

extern const ModulePlatform kWindowsModulePlatform;

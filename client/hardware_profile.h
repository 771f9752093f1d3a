// The hardware profile text sent under key 18: fifteen "name=value" fields joined by "&".
#pragma once

constexpr int kHardwareProfileSize = 513;  // 512 characters and the terminator

// Builds the profile of this machine into out (kHardwareProfileSize bytes). Runs every probe once.
bool BuildHardwareProfile(char* out);

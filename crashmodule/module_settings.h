// What LoadVersionInfo and LoadSettings apply from HVModule.dat and Version.dat. The decisions
// are portable; the files are read through a ProfileReader, which on Windows is
// GetPrivateProfileStringA.
#pragma once

#include <cstddef>
#include <cstdint>

class VXException;

// One value of an INI file with the private-profile rules: section and key names are
// case-insensitive, blanks around the value are trimmed, an absent key or file yields
// default_value, and the value is cut to capacity - 1 characters. Returns the length.
class ProfileReader {
 public:
  virtual uint32_t Read(const char* section, const char* key, const char* default_value,
                        char* out, uint32_t capacity, const char* path) = 0;

 protected:
  ~ProfileReader() = default;
};

// Both relative to the current directory; the ".\" keeps the private-profile reader from looking
// in the Windows directory instead.
constexpr char kDefaultSettingsPath[] = ".\\HVModule.dat";
constexpr char kDefaultVersionPath[] = ".\\Version.dat";
// A path given by the caller replaces the default whole, cut to this buffer.
constexpr size_t kSettingsPathSize = 128;

// Reads Product and Series from the settings file and Version from the version file (null paths
// mean the defaults) and applies all three through SetVersionInfo, empty ones included.
bool ApplyVersionInfo(VXException* module, ProfileReader* reader, const char* settings_path,
                      const char* version_path);

// Reads section VXException of the settings file key by key and applies each setting through the
// module's Set operations as soon as it is decided; the dialog's time limit,
// Format_UserInfo_Timeout, comes last. Always true.
bool ApplySettings(VXException* module, ProfileReader* reader, const char* settings_path);

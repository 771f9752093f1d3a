#include "client/config_load_win.h"

#include <windows.h>

#include <cstring>

#include "client/client_state_win.h"
#include "client/hardware_profile.h"
#include "client/machine_id.h"
#include "client/report_clock_win.h"
#include "client/run_once_win.h"
#include "client/server_choice.h"

namespace {

constexpr char kConfigFileName[] = "HVInfo.conf";
constexpr char kConfigSection[] = "HVINFO";
constexpr DWORD kCurrentDirectorySize = 256;

OnceFlag g_config_once;
uint32_t g_selection_counter = 1;

struct ConfigTexts {
  char server_port[kConfigValueSize];
  char server_host[kConfigValueSize];
  char cycle_gather[kConfigValueSize];
  char repeat_send[kConfigValueSize];
  char crash_summary[kConfigValueSize];
  char crash_package_whole[kConfigValueSize];
  char crash_package_rate[kConfigValueSize];
  char crash_package_limit[kConfigValueSize];
};

// The file sits in the current directory, not beside the library. A directory too long for the
// buffer leaves the path unbuilt and the defaults in force.
bool BuildConfigPath(char* path, size_t capacity) {
  char directory[kCurrentDirectorySize];
  DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory) return false;
  if (length + 1 + sizeof kConfigFileName > capacity) return false;
  std::memcpy(path, directory, length);
  path[length] = '\\';
  std::memcpy(path + length + 1, kConfigFileName, sizeof kConfigFileName);
  return true;
}

ConfigValues ReadConfigValues(ConfigTexts& texts) {
  char path[kCurrentDirectorySize];
  if (!BuildConfigPath(path, sizeof path)) return DefaultConfigValues();
  const ConfigValues defaults = DefaultConfigValues();
  const struct {
    const char* key;
    const char* default_text;
    char* value;
  } keys[] = {
      {"ServerPort", defaults.server_port, texts.server_port},
      {"ServerHost", defaults.server_host, texts.server_host},
      {"CycleGatherOption", defaults.cycle_gather, texts.cycle_gather},
      {"ClientRepeatSend", defaults.repeat_send, texts.repeat_send},
      {"CrashSummary", defaults.crash_summary, texts.crash_summary},
      {"CrashPackageWhole", defaults.crash_package_whole, texts.crash_package_whole},
      {"CrashPackageRate", defaults.crash_package_rate, texts.crash_package_rate},
      {"CrashPackageLimit", defaults.crash_package_limit, texts.crash_package_limit},
  };
  for (const auto& key : keys) {
    GetPrivateProfileStringA(kConfigSection, key.key, key.default_text, key.value, kConfigValueSize, path);
  }
  return ConfigValues{texts.server_port,   texts.server_host,         texts.cycle_gather,
                      texts.repeat_send,   texts.crash_summary,       texts.crash_package_whole,
                      texts.crash_package_rate, texts.crash_package_limit};
}

void LoadClientConfigOnce() {
  ConfigTexts texts = {};
  ParseClientConfig(ReadConfigValues(texts), g_client_config);
  ChooseServer(g_client_config, UnixTimeNow(), g_selection_counter);
  g_client.cycle_gather = g_client_config.cycle_gather;
  BuildMachineId(g_client.machine_id);
  std::memset(g_client.hardware_profile, 0, sizeof g_client.hardware_profile);
  BuildHardwareProfile(g_client.hardware_profile);
}

}  // namespace

void LoadClientConfig() { RunOnce(g_config_once, LoadClientConfigOnce); }

// The sample settings files as the library reads them: Windows' INI reader (Wine's here) and the
// library's own loaders. Each sample must hold every key the library reads, no key it does not,
// and each at its default, so that a studio that drops the samples in changes nothing but what the
// sample HVInfo.conf turns on on purpose: the crash summary and the whole package.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "client/client_state_win.h"
#include "client/config_load_win.h"
#include "client/server_choice.h"
#include "crashmodule/module_platform_win.h"
#include "crashmodule/module_settings.h"
#include "crashmodule/vx_exception.h"
#include "expect_defaults.h"
#include "recording_wiring.h"
#include "scratch_directory_win.h"

namespace {

// What config_load_win.cpp asks of HVInfo.conf; the client reads it straight through
// GetPrivateProfileStringA, so there is no reader to record as for the module below.
const char* const kClientKeys[] = {"ServerPort",   "ServerHost",        "CycleGatherOption", "ClientRepeatSend",
                                   "CrashSummary", "CrashPackageWhole", "CrashPackageRate",  "CrashPackageLimit"};
constexpr char kClientSection[] = "HVINFO";

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string SamplePath(const char* name) {
  const char* dir = std::getenv("VXIDENT_SAMPLES_DIR");
  return std::string(dir ? dir : "") + "\\" + name;
}

void CopySample(const ScratchDirectory& directory, const char* name) {
  std::string target = directory.path() + "\\" + name;
  ASSERT_TRUE(CopyFileA(SamplePath(name).c_str(), target.c_str(), FALSE))
      << SamplePath(name) << " (VXIDENT_SAMPLES_DIR names the samples folder)";
}

// A double-zero-terminated list from the profile reader, as strings.
std::vector<std::string> SplitList(const std::vector<char>& buffer) {
  std::vector<std::string> items;
  for (const char* p = buffer.data(); *p; p += std::strlen(p) + 1) items.emplace_back(p);
  return items;
}

std::vector<std::string> SectionsOf(const std::string& file) {
  std::vector<char> buffer(8192, 0);
  GetPrivateProfileSectionNamesA(buffer.data(), DWORD(buffer.size()), file.c_str());
  return SplitList(buffer);
}

std::vector<std::string> KeysOf(const std::string& file, const std::string& section) {
  std::vector<char> buffer(8192, 0);
  GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), DWORD(buffer.size()), file.c_str());
  return SplitList(buffer);
}

// Every key the file holds, as "file|section|key" in lower case.
std::set<std::string> KeysInFile(const char* name) {
  std::set<std::string> keys;
  std::string file = std::string(".\\") + name;
  for (const std::string& section : SectionsOf(file)) {
    for (const std::string& key : KeysOf(file, section)) {
      keys.insert(Lower(std::string(name) + "|" + section + "|" + key));
    }
  }
  return keys;
}

// The real reader, recording every key the module asks for and whether the file holds it.
class RecordingReader final : public ProfileReader {
 public:
  uint32_t Read(const char* section, const char* key, const char* default_value, char* out,
                uint32_t capacity, const char* path) override {
    const char* name = std::strrchr(path, '\\') ? std::strrchr(path, '\\') + 1 : path;
    std::string entry = Lower(std::string(name) + "|" + section + "|" + key);
    read_.insert(entry);
    // An absent key yields the default; a key that is there, even empty, never yields this one.
    char probe[4];
    const char kAbsent[] = "\x01";
    GetPrivateProfileStringA(section, key, kAbsent, probe, sizeof probe, path);
    if (std::strcmp(probe, kAbsent) == 0) missing_.push_back(entry);
    return GetPrivateProfileStringA(section, key, default_value, out, capacity, path);
  }
  const std::set<std::string>& read() const { return read_; }
  const std::vector<std::string>& missing() const { return missing_; }

 private:
  std::set<std::string> read_;
  std::vector<std::string> missing_;
};

TEST(ReleaseSamples, ModuleSamplesHoldTheDefaults) {
  ScratchDirectory directory;
  CopySample(directory, "HVModule.dat");
  CopySample(directory, "Version.dat");
  // Reads both files from the current directory, as the library's module does at its load.
  VXException module(ModuleWiring{&kRecordingCapture, &kWindowsModulePlatform});
  ExpectFreshDefaults(&module);
}

TEST(ReleaseSamples, ModuleSamplesListEveryKeyTheModuleReadsAndNoOther) {
  ScratchDirectory directory;
  CopySample(directory, "HVModule.dat");
  CopySample(directory, "Version.dat");
  VXException module(ModuleWiring{&kRecordingCapture, &kWindowsModulePlatform});
  RecordingReader reader;
  ASSERT_TRUE(ApplyVersionInfo(&module, &reader, nullptr, nullptr));
  ASSERT_TRUE(ApplySettings(&module, &reader, nullptr));
  ASSERT_GT(reader.read().size(), 30u);
  std::string missing;
  for (const std::string& entry : reader.missing()) missing += entry + " ";
  EXPECT_EQ(missing, "") << "read by the module but not in the samples";

  std::set<std::string> in_files = KeysInFile("HVModule.dat");
  std::set<std::string> version_keys = KeysInFile("Version.dat");
  in_files.insert(version_keys.begin(), version_keys.end());
  std::string unread;
  for (const std::string& entry : in_files) {
    if (!reader.read().count(entry)) unread += entry + " ";
  }
  EXPECT_EQ(unread, "") << "in the samples but never read by the module";
}

TEST(ReleaseSamples, ClientSampleHoldsExactlyTheClientKeysAtTheirDefaults) {
  ScratchDirectory directory;
  CopySample(directory, "HVInfo.conf");
  const std::string file = ".\\HVInfo.conf";
  EXPECT_EQ(SectionsOf(file), std::vector<std::string>{kClientSection});
  std::set<std::string> expected;
  for (const char* key : kClientKeys) expected.insert(Lower(key));
  std::set<std::string> present;
  for (const std::string& key : KeysOf(file, kClientSection)) present.insert(Lower(key));
  EXPECT_EQ(present, expected);

  // The client's own load, from this directory: the first and only one of this process.
  LoadClientConfig();
  ClientConfig defaults = {};
  ParseClientConfig(DefaultConfigValues(), defaults);
  uint32_t counter = 1;
  ChooseServer(defaults, 0, counter);  // one server: the choice does not depend on the clock
  ASSERT_EQ(g_client_config.server_count, 1);
  EXPECT_STREQ(g_client_config.servers[0].host, defaults.servers[0].host);
  EXPECT_EQ(g_client_config.servers[0].port, defaults.servers[0].port);
  EXPECT_STREQ(g_client_config.chosen_host, defaults.chosen_host);
  EXPECT_EQ(g_client_config.chosen_port, defaults.chosen_port);
  EXPECT_EQ(g_client_config.cycle_gather, defaults.cycle_gather);
  EXPECT_EQ(g_client_config.send_attempts, defaults.send_attempts);
  EXPECT_EQ(g_client_config.crash_package_rate, defaults.crash_package_rate);
  EXPECT_EQ(g_client_config.crash_package_limit, defaults.crash_package_limit);
  // Off by default, on in the sample: a studio that takes the sample gets the summary and the
  // whole package, one that writes its own file gets today's datagrams.
  EXPECT_FALSE(defaults.crash_summary);
  EXPECT_FALSE(defaults.crash_package_whole);
  EXPECT_TRUE(g_client_config.crash_summary);
  EXPECT_TRUE(g_client_config.crash_package_whole);
}

}  // namespace

// The version resource of both shipped DLLs, read back the way Explorer and a minidump writer read
// it: GetFileVersionInfo (Wine's here) on the files of the unpacked release.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kFileVersionMs = (DWORD(VXIDENT_VERSION_MAJOR) << 16) | DWORD(VXIDENT_VERSION_MINOR);
constexpr DWORD kFileVersionLs = DWORD(VXIDENT_VERSION_PATCH) << 16;

struct Text {
  const char* name;
  const char* value;
};
const Text kTexts[] = {
    {"ProductName", "VXIdent"},
    {"FileDescription", "VXIdent telemetry and crash reporting"},
    {"FileVersion", VXIDENT_VERSION_TEXT},
    {"ProductVersion", VXIDENT_VERSION_TEXT},
    {"OriginalFilename", "VXIdent.dll"},
    {"InternalName", "VXIdent"},
};

std::vector<char> ReadVersionInfo(const std::string& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::vector<char> data(size);
  if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, data.data())) data.clear();
  return data;
}

class ShippedDllVersion : public testing::TestWithParam<const char*> {
 protected:
  std::string DllPath() const {
    const char* tree = std::getenv("VXIDENT_RELEASE_TREE_WINDOWS");
    return std::string(tree ? tree : "") + "\\bin\\" + GetParam() + "\\VXIdent.dll";
  }
};

TEST_P(ShippedDllVersion, StatesTheReleaseVersionAndNames) {
  std::vector<char> info = ReadVersionInfo(DllPath());
  ASSERT_FALSE(info.empty()) << DllPath() << " has no version resource (VXIDENT_RELEASE_TREE_WINDOWS names the tree)";

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, kFileVersionMs);
  EXPECT_EQ(fixed->dwFileVersionLS, kFileVersionLs);
  EXPECT_EQ(fixed->dwProductVersionMS, kFileVersionMs);
  EXPECT_EQ(fixed->dwProductVersionLS, kFileVersionLs);
  EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
  EXPECT_EQ(fixed->dwFileOS, DWORD(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "neither debug nor prerelease";

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x409);  // the string table below is the one a reader looks up
  EXPECT_EQ(translation[1], 1200);

  for (const Text& text : kTexts) {
    std::string key = std::string("\\StringFileInfo\\040904B0\\") + text.name;
    char* value = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) << key;
    EXPECT_STREQ(value, text.value) << key;
  }
}

INSTANTIATE_TEST_SUITE_P(BothArchitectures, ShippedDllVersion, testing::Values("x86", "x64"));

}  // namespace

// The crash summary's module table: PE headers (size, time stamp, code sections, CodeView ids),
// the loader's list walked from a PEB for both architectures, and the address lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crashcapture/module_table.h"
#include "fake_memory.h"

namespace {

constexpr uint32_t kDebugRecordRva = 0x300;
constexpr uint32_t kDebugDirectoryRva = 0x200;

void PutDebugDirectory(FakeMemory& memory, const FakeImage& image, uint32_t directories_rva, uint32_t address_of_raw_data) {
  memory.PutU32(image.base + directories_rva + 6 * 8, kDebugDirectoryRva);
  memory.PutU32(image.base + directories_rva + 6 * 8 + 4, 2 * 28);
  // A first entry of another type (a POGO record), then the CodeView one.
  memory.PutU32(image.base + kDebugDirectoryRva + 12, 13);
  memory.PutU32(image.base + kDebugDirectoryRva + 20, 0x280);
  memory.PutU32(image.base + kDebugDirectoryRva + 28 + 12, 2);
  memory.PutU32(image.base + kDebugDirectoryRva + 28 + 20, address_of_raw_data);
}

void PutRsds(FakeMemory& memory, uint64_t at, const char* path) {
  const uint8_t guid[16] = {0x4E, 0x3D, 0x2C, 0x1B, 0x60, 0x5F, 0x82, 0x71,
                            0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9, 0x0A};
  memory.Put(at, "RSDS", 4);
  memory.Put(at + 4, guid, 16);
  memory.PutU32(at + 20, 3);
  memory.Put(at + 24, path, std::strlen(path) + 1);
}

TEST(PeImage, ReadsSizeStampCodeAndPdb70Id) {
  FakeMemory memory;
  const FakeImage image = {0x400000, 0x4000, 0x65A1B2C3, 0x1000, 0x2000, false};
  const uint32_t directories = MapFakeImage(memory, image);
  PutDebugDirectory(memory, image, directories, kDebugRecordRva);
  PutRsds(memory, image.base + kDebugRecordRva, "C:\\build\\out\\game.pdb");
  PeImageFacts facts;
  ASSERT_TRUE(ReadPeImage(memory, image.base, &facts));
  EXPECT_EQ(facts.size_of_image, 0x4000u);
  EXPECT_EQ(facts.time_stamp, 0x65A1B2C3u);
  ASSERT_EQ(facts.code_range_count, 1);  // the data section is not code
  EXPECT_EQ(facts.code[0].begin, 0x1000u);
  EXPECT_EQ(facts.code[0].end, 0x3000u);
  EXPECT_EQ(facts.debug_id_kind, kDebugIdPdb70);
  // Data1, Data2, Data3 turned to the order they are written in: 1B2C3D4E-5F60-7182-93A4...
  const uint8_t written[16] = {0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71, 0x82,
                               0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9, 0x0A};
  EXPECT_EQ(0, std::memcmp(facts.signature, written, 16));
  EXPECT_EQ(facts.age, 3u);
  EXPECT_STREQ(facts.debug_file, "game.pdb");
}

TEST(PeImage, ReadsPdb20IdOfAPe32PlusImage) {
  FakeMemory memory;
  const FakeImage image = {0x7FF612340000, 0x8000, 7, 0x1000, 0x100, true};
  const uint32_t directories = MapFakeImage(memory, image);
  PutDebugDirectory(memory, image, directories, kDebugRecordRva);
  memory.Put(image.base + kDebugRecordRva, "NB10", 4);
  memory.PutU32(image.base + kDebugRecordRva + 8, 0x11223344);
  memory.PutU32(image.base + kDebugRecordRva + 12, 9);
  memory.Put(image.base + kDebugRecordRva + 16, "old/tool.pdb", 13);
  PeImageFacts facts;
  ASSERT_TRUE(ReadPeImage(memory, image.base, &facts));
  EXPECT_EQ(facts.size_of_image, 0x8000u);
  EXPECT_EQ(facts.debug_id_kind, kDebugIdPdb20);
  const uint8_t signature[4] = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(0, std::memcmp(facts.signature, signature, 4));
  EXPECT_EQ(facts.age, 9u);
  EXPECT_STREQ(facts.debug_file, "tool.pdb");
}

TEST(PeImage, NoIdWhenTheRecordIsNotMappedOrUnknownAndNoImageWithoutHeaders) {
  FakeMemory memory;
  const FakeImage image = {0x10000000, 0x4000, 1, 0x1000, 0x100, false};
  const uint32_t directories = MapFakeImage(memory, image);
  PutDebugDirectory(memory, image, directories, 0);  // only in the file
  PeImageFacts facts;
  ASSERT_TRUE(ReadPeImage(memory, image.base, &facts));
  EXPECT_EQ(facts.debug_id_kind, kDebugIdNone);

  PutDebugDirectory(memory, image, directories, kDebugRecordRva);
  memory.Put(image.base + kDebugRecordRva, "XXXX", 4);
  ASSERT_TRUE(ReadPeImage(memory, image.base, &facts));
  EXPECT_EQ(facts.debug_id_kind, kDebugIdNone);

  memory.Put(image.base + kFakeNtOffset, "NE\0\0", 4);
  EXPECT_FALSE(ReadPeImage(memory, image.base, &facts));
  EXPECT_FALSE(ReadPeImage(memory, 0x20000000, &facts));  // nothing mapped
}

// A PEB with the loader's list of the given images (names as UTF-16), for one architecture.
struct FakeProcess {
  FakeMemory memory;
  uint64_t peb = 0x7000;
};

void BuildLoaderList(FakeProcess& process, const LoaderListLayout& layout, const FakeImage* images, int count,
                     const char16_t* const* names, bool loop_back = false) {
  const int ps = layout.pointer_size;
  FakeMemory& m = process.memory;
  m.Map(process.peb, 0x100);
  const uint64_t ldr = 0x8000;
  m.Map(ldr, 0x100);
  m.PutPointer(process.peb + layout.peb_ldr, ldr, ps);
  const uint64_t head = ldr + layout.load_order_list;
  const uint64_t first_entry = 0x9000;
  m.Map(first_entry, 0x1000 * size_t(count));
  for (int i = 0; i < count; ++i) {
    const uint64_t entry = first_entry + 0x1000u * uint64_t(i);
    const uint64_t next = i + 1 < count ? entry + 0x1000 : (loop_back ? first_entry : head);
    m.PutPointer(entry, next, ps);
    m.PutPointer(entry + layout.entry_dll_base, images[i].base, ps);
    const std::u16string name(names[i]);
    const uint64_t text = entry + 0x800;
    m.Put(text, name.data(), name.size() * 2);
    m.PutU16(entry + layout.entry_base_name, uint16_t(name.size() * 2));
    m.PutPointer(entry + layout.entry_base_name + ps, text, ps);
  }
  m.PutPointer(head, count > 0 ? first_entry : head, ps);
}

TEST(ModuleTable, WalksTheLoaderListOfEachArchitectureSortedByBase) {
  const char16_t* names[] = {u"game.exe", u"ntdll.dll", u"\u00e9cran.dll"};
  for (const LoaderListLayout* layout : {&kLoaderListX86, &kLoaderListX64}) {
    SCOPED_TRACE(layout->pointer_size);
    FakeProcess process;
    const FakeImage images[] = {{0x400000, 0x5000, 1, 0x1000, 0x1000, layout->pointer_size == 8},
                                {0x77000000, 0x3000, 2, 0x1000, 0x800, layout->pointer_size == 8},
                                {0x10000000, 0x2000, 3, 0x1000, 0x100, layout->pointer_size == 8}};
    for (const FakeImage& image : images) MapFakeImage(process.memory, image);
    BuildLoaderList(process, *layout, images, 3, names);
    static ModuleTable table;
    ASSERT_EQ(GatherModules(process.memory, process.peb, *layout, &table), 3);
    EXPECT_EQ(table.modules[0].base, 0x400000u);
    EXPECT_STREQ(table.modules[0].name, "game.exe");
    EXPECT_STREQ(table.modules[1].name, "\xc3\xa9" "cran.dll");
    EXPECT_STREQ(table.modules[2].name, "ntdll.dll");
    EXPECT_EQ(table.modules[2].facts.size_of_image, 0x3000u);

    EXPECT_EQ(FindModule(table, 0x400000), 0);
    EXPECT_EQ(FindModule(table, 0x404FFF), 0);
    EXPECT_EQ(FindModule(table, 0x405000), -1);
    EXPECT_EQ(FindModule(table, 0x3FFFFF), -1);
    EXPECT_EQ(FindModule(table, 0x77002000), 2);
    EXPECT_TRUE(InModuleCode(table, 0x401000));
    EXPECT_TRUE(InModuleCode(table, 0x401FFF));
    EXPECT_FALSE(InModuleCode(table, 0x402000));  // past the code section
    EXPECT_FALSE(InModuleCode(table, 0x400100));  // the data section
  }
}

TEST(ModuleTable, ALoopingOrBrokenListEndsAndEntriesWithoutAnImageAreSkipped) {
  const char16_t* names[] = {u"a.dll", u"b.dll", u"gone.dll"};
  FakeProcess process;
  const FakeImage images[] = {{0x10000000, 0x2000, 1, 0x1000, 0x100, false},
                              {0x20000000, 0x2000, 2, 0x1000, 0x100, false},
                              {0x30000000, 0x2000, 3, 0x1000, 0x100, false}};
  MapFakeImage(process.memory, images[0]);
  MapFakeImage(process.memory, images[1]);  // the third was unloaded: its headers are gone
  // The last entry points back at the first, as a list torn by a frozen insert can.
  BuildLoaderList(process, kLoaderListX86, images, 3, names, true);
  static ModuleTable table;
  EXPECT_EQ(GatherModules(process.memory, process.peb, kLoaderListX86, &table), 2);
  EXPECT_EQ(GatherModules(process.memory, 0xDEAD0000, kLoaderListX86, &table), 0);
}

TEST(Utf16ToUtf8, EncodesEveryLengthAndCutsOnlyAtWholeCharacters) {
  const char16_t text[] = u"a\u00e9\u4e2d\U0001F600";
  const auto* units = reinterpret_cast<const uint16_t*>(text);
  char out[32];
  Utf16ToUtf8(units, 5, out, sizeof out);
  EXPECT_STREQ(out, "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80");
  Utf16ToUtf8(units, 5, out, 6);  // room for a, é and not the whole 中
  EXPECT_STREQ(out, "a\xc3\xa9");
  const uint16_t lone[] = {0xD800, 'x'};
  Utf16ToUtf8(lone, 2, out, sizeof out);
  EXPECT_STREQ(out, "\xef\xbf\xbdx");
}

}  // namespace

// The modules of the crashed process as the crash summary sees them: read from the loader's own
// list in the process environment block, never through the loader's calls, which take the loader
// lock that a frozen thread may hold. The list can be half-updated by a thread frozen inside
// LoadLibrary, so the walk is bounded and every entry is checked as it is read.
#pragma once

#include <cstdint>

#include "crashcapture/memory_reader.h"
#include "crashcapture/pe_image.h"

// A game with every middleware and overlay loaded has two to three hundred modules.
constexpr int kMaxCrashModules = 512;

struct CrashModule {
  uint64_t base;
  PeImageFacts facts;
  char name[kMaxSummaryNameLength + 1];  // UTF-8, without its folder
};

struct ModuleTable {
  int count;
  CrashModule modules[kMaxCrashModules];  // sorted by base once gathered
};

// Where the loader keeps its list, for one architecture's structures (PEB, PEB_LDR_DATA,
// LDR_DATA_TABLE_ENTRY, UNICODE_STRING).
struct LoaderListLayout {
  int pointer_size;
  uint32_t peb_ldr;             // PEB.Ldr
  uint32_t load_order_list;     // PEB_LDR_DATA.InLoadOrderModuleList
  uint32_t entry_dll_base;      // LDR_DATA_TABLE_ENTRY.DllBase
  uint32_t entry_base_name;     // LDR_DATA_TABLE_ENTRY.BaseDllName
};

extern const LoaderListLayout kLoaderListX86;
extern const LoaderListLayout kLoaderListX64;

// Walks the load-order list from the PEB at peb and reads each image's headers; entries whose
// headers are not a PE image's are left out. Returns the number of modules.
int GatherModules(MemoryReader& memory, uint64_t peb, const LoaderListLayout& layout, ModuleTable* out);

// The module whose image holds address, or -1.
int FindModule(const ModuleTable& table, uint64_t address);
// Whether address lies in an executable section of a module.
bool InModuleCode(const ModuleTable& table, uint64_t address);

// UTF-16 (as the loader stores names) to UTF-8, cut at a whole character so that at most
// capacity - 1 bytes and a zero are written.
void Utf16ToUtf8(const uint16_t* text, int units, char* out, int capacity);

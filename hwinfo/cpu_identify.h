// The processor probes: name, vendor, registry clock and feature flags, decided from the words of
// the identification instruction and the registry values that a CpuSource hands over.
#pragma once

#include <cstdint>

#include "hwinfo/registry_source.h"

struct CpuIdRegs {
  uint32_t eax;
  uint32_t ebx;
  uint32_t ecx;
  uint32_t edx;
};

// What the processor probes read from the machine. On Windows: the flags-register test, the
// instruction itself and the registry; in tests: recorded words and values.
struct CpuSource {
  bool (*supported)();                 // whether the identification instruction may be issued
  CpuIdRegs (*cpuid)(uint32_t leaf);  // the four registers the instruction returns for a leaf
  RegistryReader read_registry;
};

constexpr int kCpuNameSize = 512;  // the name probe's output and scratch buffers
constexpr char kUnknownCpu[] = "Unknow CPU";
constexpr char kCpuRegistryKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

enum CpuVendor {
  kCpuOther = 0,
  kCpuIntel = 1,
  kCpuAmd = 2,
  kCpuUmc = 3,
  kCpuCyrix = 4,
  kCpuNexGen = 5,
  kCpuCentaur = 6,
  kCpuRise = 7,
  kCpuTransmeta = 8,
  kCpuNsc = 9,
};

// Writes the processor name into out (kCpuNameSize bytes): the brand string, else the registry's
// "ProcessorNameString", trimmed; "Unknow CPU" when neither gives a name. A null out does nothing.
void GetCpuName(const CpuSource& cpu, char* out);

// Writes the vendor token (at most 7 characters) into out and returns its CpuVendor code; a null out
// returns 0 and writes nothing.
int GetCpuVendor(const CpuSource& cpu, char* out);

// The clock in MHz that Windows recorded in "~MHz", or 0.
int GetCpuSpeedReg(const CpuSource& cpu);

bool CpuHasMmx(const CpuSource& cpu);
bool CpuHasSse(const CpuSource& cpu);
bool CpuHasSse2(const CpuSource& cpu);
bool CpuHas3DNow(const CpuSource& cpu);
bool CpuHasHt(const CpuSource& cpu);

// The pieces of the probes above.

// Copies scratch into out without its leading and trailing blanks (space only); blanks inside stay.
// Returns the number of characters written.
int TrimCpuName(const char* scratch, char* out);

// Looks for the vendor keys in a lower-case text, in table order; writes the first hit's token, or
// "OTHER", into out and returns its code.
int MatchCpuVendor(const char* lowered, char* out);

// Only a positive test is remembered in *flag: a processor without the instruction is tested again
// on every call.
bool CachedCpuIdSupported(uint8_t* flag, bool (*flag_register_test)());

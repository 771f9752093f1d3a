#include "hwinfo/cpu_identify.h"

#include <cstring>

#include "hwinfo/name_text.h"

namespace {

constexpr uint32_t kLeafVendor = 0;
constexpr uint32_t kLeafFeatures = 1;
constexpr uint32_t kLeafExtendedMax = 0x80000000;
constexpr uint32_t kLeafExtendedFeatures = 0x80000001;
constexpr uint32_t kLeafBrandFirst = 0x80000002;
constexpr uint32_t kLeafBrandLast = 0x80000004;

// EDX bits of leaf 1, and of leaf 0x80000001 for 3DNow!. There bit 31 is 3DNow! itself and bit 30
// AMD's extensions to it; the c3dnow field carries bit 30, and that is what the server's records
// mean by it, so it stays.
constexpr int kMmxBit = 23;
constexpr int kSseBit = 25;
constexpr int kSse2Bit = 26;
constexpr int kHtBit = 28;
constexpr int k3DNowBit = 30;

struct VendorRow {
  const char* key;
  const char* token;
  int code;
};

// Searched in this order; the first key found anywhere in the text decides.
constexpr VendorRow kVendorTable[] = {
    {"intel", "INTEL", kCpuIntel},    {"amd", "AMD", kCpuAmd},         {"umc", "UMC", kCpuUmc},
    {"cyrix", "CYRIX", kCpuCyrix},    {"nexgen", "NEXGEN", kCpuNexGen}, {"centaur", "CENTAUR", kCpuCentaur},
    {"rise", "RISE", kCpuRise},       {"tmx86", "TMX86", kCpuTransmeta}, {"nsc", "NSC", kCpuNsc},
};
constexpr char kOtherToken[] = "OTHER";

// Leaves 0x80000002..4 give the 48 bytes of the brand string, EAX, EBX, ECX, EDX each.
void ReadBrandString(const CpuSource& cpu, char* scratch) {
  if (cpu.cpuid(kLeafExtendedMax).eax < kLeafBrandLast) return;
  for (uint32_t leaf = kLeafBrandFirst; leaf <= kLeafBrandLast; ++leaf) {
    const CpuIdRegs regs = cpu.cpuid(leaf);
    const uint32_t words[4] = {regs.eax, regs.ebx, regs.ecx, regs.edx};
    std::memcpy(scratch + (leaf - kLeafBrandFirst) * sizeof(words), words, sizeof(words));
  }
}

void ReadRegistryName(const CpuSource& cpu, char* scratch) {
  if (ReadRegistryText(cpu.read_registry, kCpuRegistryKey, "ProcessorNameString", scratch, kCpuNameSize) ==
      RegRead::kNoValue) {
    std::strcpy(scratch, kUnknownCpu);
  }
}

bool FeatureBit(const CpuSource& cpu, uint32_t leaf, int bit) {
  if (!cpu.supported()) return false;
  return (cpu.cpuid(leaf).edx >> bit & 1) != 0;
}

}  // namespace

bool CachedCpuIdSupported(uint8_t* flag, bool (*flag_register_test)()) {
  if (*flag == 1) return true;
  *flag = flag_register_test() ? 1 : 0;
  return *flag == 1;
}

int TrimCpuName(const char* scratch, char* out) {
  while (*scratch == ' ') ++scratch;
  int length = 0;
  int kept = 0;  // the length up to the last non-blank copied
  for (; *scratch != '\0'; ++scratch) {
    out[length++] = *scratch;
    if (*scratch != ' ') kept = length;
  }
  out[kept] = '\0';
  return kept;
}

int MatchCpuVendor(const char* lowered, char* out) {
  for (const VendorRow& row : kVendorTable) {
    if (std::strstr(lowered, row.key) != nullptr) {
      std::strcpy(out, row.token);
      return row.code;
    }
  }
  std::strcpy(out, kOtherToken);
  return kCpuOther;
}

void GetCpuName(const CpuSource& cpu, char* out) {
  if (out == nullptr) return;
  std::strcpy(out, kUnknownCpu);
  char scratch[kCpuNameSize] = {};
  if (cpu.supported()) ReadBrandString(cpu, scratch);
  if (scratch[0] == '\0') ReadRegistryName(cpu, scratch);
  if (TrimCpuName(scratch, out) == 0) std::strcpy(out, kUnknownCpu);
}

int GetCpuVendor(const CpuSource& cpu, char* out) {
  if (out == nullptr) return 0;
  std::strcpy(out, kOtherToken);
  char scratch[kCpuNameSize] = {};
  if (cpu.supported()) {
    // The vendor identification is EBX, EDX, ECX in that order: "Genu" "ineI" "ntel".
    const CpuIdRegs regs = cpu.cpuid(kLeafVendor);
    const uint32_t words[3] = {regs.ebx, regs.edx, regs.ecx};
    std::memcpy(scratch, words, sizeof(words));
  }
  if (scratch[0] == '\0') GetCpuName(cpu, scratch);
  LowerAscii(scratch);
  return MatchCpuVendor(scratch, out);
}

int GetCpuSpeedReg(const CpuSource& cpu) {
  // Four bytes whatever the value's type: a value of another size reads as 0 or as its low bytes.
  uint32_t mhz = 0;
  uint32_t size = 0;
  if (cpu.read_registry(kCpuRegistryKey, "~MHz", &mhz, sizeof(mhz), &size) != RegRead::kOk) return 0;
  return int(mhz);
}

bool CpuHasMmx(const CpuSource& cpu) { return FeatureBit(cpu, kLeafFeatures, kMmxBit); }
bool CpuHasSse(const CpuSource& cpu) { return FeatureBit(cpu, kLeafFeatures, kSseBit); }
bool CpuHasSse2(const CpuSource& cpu) { return FeatureBit(cpu, kLeafFeatures, kSse2Bit); }
bool CpuHasHt(const CpuSource& cpu) { return FeatureBit(cpu, kLeafFeatures, kHtBit); }

bool CpuHas3DNow(const CpuSource& cpu) {
  if (!cpu.supported()) return false;
  if (cpu.cpuid(kLeafExtendedMax).eax < kLeafExtendedFeatures) return false;
  return (cpu.cpuid(kLeafExtendedFeatures).edx >> k3DNowBit & 1) != 0;
}

#include "hwinfo/gpu_classify.h"

#include <cstdint>
#include <cstring>

#include "hwinfo/name_text.h"

namespace {

constexpr size_t kCompactSize = 512;
constexpr int kKeep = -1;  // a rule or stage that leaves the vendor as it is

// A rule's condition: terms joined by "&", all of which must hold; a term lists alternatives
// joined by "|", one of which suffices. A key is looked for in the cleaned name, or in the compact
// name when it starts with "+". An empty condition always holds.
struct GpuRule {
  const char* when;
  int model;
  int vendor = kKeep;   // the board-maker stage names the chip vendor itself
  int fallback = 0;     // the class to use if the chip vendor's stage recognises nothing
  int next_stage = 0;   // nonzero: go on at this stage instead of ending
};

enum class NoRule {
  kPass,         // go on to the next stage
  kEnd,          // end with the stage's own class
  kUseFallback,  // end with the board maker's class if one was set, else go on
};

struct GpuStage {
  uint32_t entry;     // the vendor codes for which the stage runs, one bit each
  const char* gate;   // the stage runs only if the name also has this key; nullptr: always
  int vendor;         // the vendor every rule of the stage sets, or kKeep
  const GpuRule* rules;
  size_t count;
  NoRule no_rule;
  int no_rule_model;
};

constexpr uint32_t Vendors(int a) { return 1u << a; }
constexpr uint32_t Vendors(int a, int b) { return Vendors(a) | Vendors(b); }

struct VendorKey {
  const char* key;
  int vendor;
};

// The first key found in the cleaned name decides. "ati" also matches inside other words
// ("compatible"); the classes already collected were made that way, so the key stays as it is.
constexpr VendorKey kVendorKeys[] = {
    {"3dlabs", kGpu3Dlabs}, {"nvidia", kGpuNvidia}, {"geforce", kGpuNvidia}, {"powervr", kGpuPowerVr},
    {"trident", kGpuTrident}, {"matrox", kGpuMatrox}, {"intel", kGpuIntel},  {"cirrus", kGpuCirrus},
    {"ati", kGpuAti},       {"firegl", kGpuAti},    {"3dfx", kGpu3Dfx},     {"voodoo", kGpu3Dfx},
    {"sis", kGpuSis},       {"xgi", kGpuXgi},       {"via", kGpuS3},        {"s3", kGpuS3},
};

constexpr const char* kTokens[] = {
    "UNKNOW", "ATI", "NVIDIA", "POWERVR", "SIS", "MATROX", "XGI", "S3", "3DFX", "INTEL", "3DLABS", "CIRRUS", "TRIDENT",
};

// Stage 1: a Diamond board names its chip only through the product line.
constexpr GpuRule kBoardMakerDiamond[] = {
    {"viper & ii", 0, kGpuS3, 4, 7},
    {"monster & ii", 0, kGpu3Dfx, 0, 6},
    {"viper", 0, kGpuS3, 3, 7},
    {"monster", 0, kGpu3Dfx, 0, 6},
    {"", 0, kGpuS3, 3, 7},
};

constexpr GpuRule kAti[] = {
    {"firegl", 10},
    {"x600|x700|x900|x800|x850|x500", 8},
    {"x300|9500|9550|9600|9700|9800", 7},
    {"8500|9000|9100|9200|9250", 6},
    {"7500", 5},
    {"7000|7200|radeon", 4},
    {"+allinwonder & ve", 4},
    {"+allinwonder & 128", 3},
    {"rage", 3},
    {"xpert", 2},
    {"+allinwonder|+3dproturbo|+3dcharger|+3dxpression", 1},
};

constexpr GpuRule kNvidia[] = {
    {"quadro", 10},
    {"6600|6800", 8},
    {"6200|5600|5700|5800|5900|5950", 7},
    {"+geforce2", 5},
    {"+nforce3", 5},
    {"geforce & mx & 100|200|400|440|4000", 5},
    {"+geforce4 & go", 5},
    {"+geforce3", 6},
    {"+geforce4", 6},
    {"5200", 6},
    {"geforce & go & fx", 7},
    {"nforce", 4},
    {"geforce & fx", 6},
    {"geforce & mx", 5},
    {"geforce", 4},
    {"+tnt2", 3},
    {"tnt", 2},
    {"riva", 1},
};

constexpr GpuRule kMatrox[] = {
    {"p750|p650", 10}, {"parhelia", 6}, {"g450|g550", 4}, {"g400", 3}, {"g200", 2}, {"g100", 1},
};

constexpr GpuRule kIntel[] = {
    {"915", 6},
    {"extreme & graphic & 3", 6},
    {"830|840|845|850|852|855|860|865", 4},
    {"extreme & graphic & 2", 4},
    {"810|815|820", 3},
    {"extreme & graphic", 3},
    {"740|752", 2},
};

constexpr GpuRule k3Dfx[] = {
    {"6000|5500|5000|+voodoo5", 5},
    {"4500|+voodoo4", 4},
    {"voodoo2|voodoo3|banshee", 3},
};

constexpr GpuRule kS3Via[] = {
    {"deltachrome", 6},
    {"k8m800|k8n800|kn400|km400|pm880|pm800", 5},
    {"savage & 2000", 4},
    {"cn400", 4},
    {"savage4|prosavage", 3},
    {"savage & mx", 3},
    {"p4m266|pn266t|ple133t|pn133|km266|kn266|cle266", 3},
    {"savage", 2},
    {"via", 2},
    {"virge", 1},
};

constexpr GpuRule kSis[] = {
    {"xabre", 6}, {"315|760|741|740", 4}, {"630|650|651|661|300|305", 3}, {"6326", 2},
};

constexpr GpuRule kXgi[] = {
    {"volari|xgi & 8", 7},
    {"volari|xgi & 6|5", 6},
    {"volari|xgi", 5},
};

constexpr GpuRule kPowerVr[] = {
    {"kyro & ii", 5},
    {"kyro", 3},
    {"powervr", 2},
};

constexpr GpuRule k3Dlabs[] = {
    {"wildcat", 10}, {"+permedia3", 4}, {"+permedia2", 3}, {"+permedia", 2}, {"+oxygen", 1},
};

constexpr GpuRule kCirrus[] = {
    {"", 1},
};

constexpr GpuRule kTrident[] = {
    {"9980|9970", 4}, {"blade & xp", 4}, {"blade & t64", 4}, {"9880", 3},
    {"blade", 3},     {"9850", 2},       {"9750", 1},        {"9685", 1},
};

// Boards sold under the maker's own name, with no chip named.
constexpr GpuRule kBoardMakers[] = {
    {"elsa|asus|leadtek|creative", 3},
};

template <size_t N>
constexpr GpuStage Stage(uint32_t entry, const char* gate, int vendor, const GpuRule (&rules)[N],
                         NoRule no_rule = NoRule::kPass, int no_rule_model = 0) {
  return {entry, gate, vendor, rules, N, no_rule, no_rule_model};
}

// Run in this order; a stage runs only when the vendor found so far is in its entry set. Stages
// are numbered from 1 as the rules' next_stage counts them.
constexpr GpuStage kStages[] = {
    Stage(Vendors(kGpuUnknown), "diamond", kKeep, kBoardMakerDiamond),
    Stage(Vendors(kGpuUnknown, kGpuAti), nullptr, kGpuAti, kAti),
    Stage(Vendors(kGpuUnknown, kGpuNvidia), nullptr, kGpuNvidia, kNvidia),
    Stage(Vendors(kGpuMatrox), nullptr, kKeep, kMatrox, NoRule::kEnd, 0),
    // An Intel adapter that no rule recognises is still counted as a basic one.
    Stage(Vendors(kGpuIntel), nullptr, kKeep, kIntel, NoRule::kEnd, 3),
    Stage(Vendors(kGpu3Dfx), nullptr, kKeep, k3Dfx, NoRule::kEnd, 1),
    Stage(Vendors(kGpuUnknown, kGpuS3), nullptr, kGpuS3, kS3Via, NoRule::kUseFallback),
    Stage(Vendors(kGpuSis), nullptr, kKeep, kSis, NoRule::kEnd, 0),
    Stage(Vendors(kGpuUnknown, kGpuXgi), nullptr, kGpuXgi, kXgi),
    Stage(Vendors(kGpuUnknown, kGpuPowerVr), nullptr, kGpuPowerVr, kPowerVr),
    Stage(Vendors(kGpuUnknown, kGpu3Dlabs), nullptr, kGpu3Dlabs, k3Dlabs),
    Stage(Vendors(kGpuCirrus), nullptr, kKeep, kCirrus),
    Stage(Vendors(kGpuTrident), nullptr, kKeep, kTrident, NoRule::kEnd, 0),
    Stage(Vendors(kGpuUnknown), nullptr, kKeep, kBoardMakers, NoRule::kEnd, 0),
};

bool HasKey(const char* text, const char* key, size_t length) {
  for (; *text != '\0'; ++text) {
    if (std::strncmp(text, key, length) == 0) return true;
  }
  return length == 0;
}

bool IsKeyEnd(char c) { return c == '\0' || c == ' ' || c == '|' || c == '&'; }

// Evaluates a rule's condition (see GpuRule) against both forms of the name.
bool Holds(const char* when, const char* cleaned, const char* compact) {
  const char* p = when;
  while (*p == ' ') ++p;
  if (*p == '\0') return true;
  bool all = true;   // the terms finished so far all held
  bool term = false; // one alternative of the current term held
  for (;;) {
    const bool in_compact = *p == '+';
    if (in_compact) ++p;
    const char* key = p;
    while (!IsKeyEnd(*p)) ++p;
    term = term || HasKey(in_compact ? compact : cleaned, key, size_t(p - key));
    while (*p == ' ') ++p;
    if (*p == '|') {
      ++p;
    } else {
      all = all && term;
      term = false;
      if (*p == '\0') return all;
      ++p;  // '&'
    }
    while (*p == ' ') ++p;
  }
}

int FindVendor(const char* cleaned) {
  for (const VendorKey& row : kVendorKeys) {
    if (std::strstr(cleaned, row.key) != nullptr) return row.vendor;
  }
  return kGpuUnknown;
}

int Classify(const char* cleaned, const char* compact, int* vendor) {
  int v = *vendor;
  int fallback = 0;
  size_t s = 0;
  while (s < sizeof(kStages) / sizeof(kStages[0])) {
    const GpuStage& stage = kStages[s];
    if ((stage.entry & Vendors(v)) == 0 || (stage.gate != nullptr && std::strstr(cleaned, stage.gate) == nullptr)) {
      ++s;
      continue;
    }
    const GpuRule* rule = nullptr;
    for (size_t r = 0; r < stage.count && rule == nullptr; ++r) {
      if (Holds(stage.rules[r].when, cleaned, compact)) rule = &stage.rules[r];
    }
    if (rule != nullptr) {
      if (stage.vendor != kKeep) v = stage.vendor;
      if (rule->vendor != kKeep) v = rule->vendor;
      if (rule->next_stage != 0) {
        fallback = rule->fallback;
        s = size_t(rule->next_stage - 1);
        continue;
      }
      *vendor = v;
      return rule->model;
    }
    if (stage.no_rule == NoRule::kEnd) {
      *vendor = v;
      return stage.no_rule_model;
    }
    if (stage.no_rule == NoRule::kUseFallback && fallback != 0) {
      *vendor = stage.vendor;
      return fallback;
    }
    ++s;
  }
  *vendor = v;
  return 0;
}

}  // namespace

int GetGpuVendorModel(char* name, int* vendor) {
  if (name == nullptr) return 0;
  LowerAscii(name);
  BlankBrackets(name);
  char compact[kCompactSize];
  CompactName(name, " -_", compact, sizeof(compact));
  int v = FindVendor(name);
  const int model = Classify(name, compact, &v);
  std::strcpy(name, v >= 1 && v <= kGpuTrident ? kTokens[v] : kTokens[kGpuUnknown]);
  if (vendor != nullptr) *vendor = v;
  return model;
}

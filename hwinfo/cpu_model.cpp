#include "hwinfo/cpu_model.h"

#include <cstring>

#include "hwinfo/name_text.h"

namespace {

struct ModelRow {
  const char* key;
  const char* code;
};

// Within a list the first key found anywhere in the compact name decides, so the longer and more
// specific keys come first ("celeron4" before "celeron", "k5x86" before "k5").
constexpr ModelRow kIntelList[] = {
    {"celeron4", "IC4"},   {"celerond", "IC4"},  {"celeron3", "IC3"},   {"celeroniii", "IC3"},
    {"celeron2", "IC2"},   {"celeronii", "IC2"}, {"celeron", "IC"},     {"pentium4", "IP4"},
    {"pentiumiv", "IP4"},  {"pentium3", "IP3"},  {"pentiumiii", "IP3"}, {"pentium2", "IP2"},
    {"pentiumii", "IP2"},  {"pentium", "IP"},    {"itanium2", "II2x"},  {"itanium", "IIx"},
    {"486", "I4"},         {"386", "I3"},
};

constexpr ModelRow kAmdList[] = {
    {"athlon64fx", "A64x"}, {"athlon64", "A64"}, {"athlonxp", "AXP"}, {"athlonmp", "AAx"},
    {"athlon", "AA"},       {"sempron", "AS"},   {"opteron", "AOx"},  {"duron", "AD"},
    {"k6", "A6"},           {"k5x86", "A4"},     {"k5", "A5"},
};

constexpr ModelRow kCyrixList[] = {
    {"5x86", "C5"}, {"gx", "CG"}, {"m1", "C6"}, {"m2", "C6"}, {"iii", "CV"},
};

// The first row whose key occurs gives the suffix; at most one suffix is appended.
constexpr ModelRow kIntelSuffixes[] = {
    {"mobile", "m"},    {"pentiumm", "m"},  {"pentium4m", "m"}, {"pentium3m", "m"}, {"pentiumiiim", "m"},
    {"celeronm", "m"},  {"celerondm", "m"}, {"celeron4m", "m"}, {"celeron3m", "m"}, {"xeon", "x"},
};

constexpr ModelRow kAmdSuffixes[] = {
    {"mobile", "m"},
    {"notebook", "m"},
};

struct Span {
  const ModelRow* rows;
  size_t count;
};

template <size_t N>
constexpr Span SpanOf(const ModelRow (&rows)[N]) {
  return {rows, N};
}

struct VendorModel {
  int vendor;
  const char* base;
  Span list;
  Span suffixes;
};

// NexGen and NSC share the letter N.
constexpr VendorModel kVendorModels[] = {
    {kCpuIntel, "I", SpanOf(kIntelList), SpanOf(kIntelSuffixes)},
    {kCpuAmd, "A", SpanOf(kAmdList), SpanOf(kAmdSuffixes)},
    {kCpuUmc, "U", {}, {}},
    {kCpuCyrix, "C", SpanOf(kCyrixList), {}},
    {kCpuNexGen, "N", {}, {}},
    {kCpuCentaur, "E", {}, {}},
    {kCpuRise, "R", {}, {}},
    {kCpuTransmeta, "T", {}, {}},
    {kCpuNsc, "N", {}, {}},
};
constexpr char kOtherBase[] = "O";

const ModelRow* FirstFound(const char* compact, Span span) {
  for (size_t i = 0; i < span.count; ++i) {
    if (std::strstr(compact, span.rows[i].key) != nullptr) return &span.rows[i];
  }
  return nullptr;
}

}  // namespace

void CpuModelCode(const char* compact, int vendor, char* out) {
  std::strcpy(out, kOtherBase);
  for (const VendorModel& model : kVendorModels) {
    if (model.vendor != vendor) continue;
    const ModelRow* row = FirstFound(compact, model.list);
    std::strcpy(out, row != nullptr ? row->code : model.base);
    if (const ModelRow* suffix = FirstFound(compact, model.suffixes)) std::strcat(out, suffix->code);
    return;
  }
}

void GetCpuModel(const CpuSource& cpu, char* out) {
  if (out == nullptr) return;
  char name[kCpuNameSize];
  GetCpuName(cpu, name);
  LowerAscii(name);
  BlankBrackets(name);
  char compact[kCpuNameSize];
  CompactName(name, " ", compact, sizeof(compact));
  // The name is no longer needed once compacted, so its buffer takes the vendor token.
  const int vendor = GetCpuVendor(cpu, name);
  CpuModelCode(compact, vendor, out);
}

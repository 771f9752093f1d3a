#include "crashcapture/module_table.h"

#include <cstring>

namespace {

// More links than this means the list is looping through a half-updated entry.
constexpr int kMaxListSteps = 4 * kMaxCrashModules;
// Names longer than a summary carries are of no use; the loader's own limit is MAX_PATH.
constexpr int kMaxNameUnits = 128;

void SortByBase(ModuleTable* table) {
  // Insertion sort: at most a few hundred entries, and the crash path calls no library sort that
  // might allocate.
  for (int i = 1; i < table->count; ++i) {
    for (int j = i; j > 0 && table->modules[j - 1].base > table->modules[j].base; --j) {
      CrashModule swap;
      std::memcpy(&swap, &table->modules[j], sizeof swap);
      std::memcpy(&table->modules[j], &table->modules[j - 1], sizeof swap);
      std::memcpy(&table->modules[j - 1], &swap, sizeof swap);
    }
  }
}

bool ReadEntryName(MemoryReader& memory, uint64_t entry, const LoaderListLayout& layout, char* out) {
  uint16_t length_bytes;
  uint64_t buffer;
  const uint64_t name = entry + layout.entry_base_name;
  // UNICODE_STRING: Length, MaximumLength, then the buffer pointer aligned to a pointer.
  if (!memory.ReadU16(name, &length_bytes) || !memory.ReadPointer(name + layout.pointer_size, layout.pointer_size, &buffer)) {
    return false;
  }
  uint16_t units[kMaxNameUnits];
  int count = length_bytes / 2 < kMaxNameUnits ? length_bytes / 2 : kMaxNameUnits;
  if (count > 0 && !memory.Read(buffer, units, size_t(count) * 2)) return false;
  // The loader stores little-endian UTF-16; read as bytes, it is the same on every host we build.
  for (int i = 0; i < count; ++i) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&units[i]);
    units[i] = uint16_t(bytes[0] | bytes[1] << 8);
  }
  char utf8[kMaxNameUnits * 3 + 1];
  Utf16ToUtf8(units, count, utf8, sizeof utf8);
  CopyFileName(utf8, std::strlen(utf8), out);
  return true;
}

bool AlreadyListed(const ModuleTable& table, uint64_t base) {
  for (int i = 0; i < table.count; ++i) {
    if (table.modules[i].base == base) return true;
  }
  return false;
}

}  // namespace

const LoaderListLayout kLoaderListX86 = {4, 0x0C, 0x0C, 0x18, 0x2C};
const LoaderListLayout kLoaderListX64 = {8, 0x18, 0x10, 0x30, 0x58};

int GatherModules(MemoryReader& memory, uint64_t peb, const LoaderListLayout& layout, ModuleTable* out) {
  out->count = 0;
  uint64_t ldr, link;
  if (!memory.ReadPointer(peb + layout.peb_ldr, layout.pointer_size, &ldr)) return 0;
  const uint64_t head = ldr + layout.load_order_list;
  if (!memory.ReadPointer(head, layout.pointer_size, &link)) return 0;
  // InLoadOrderLinks is the entry's first field, so a link is its entry's address.
  for (int steps = 0; link != head && link != 0 && steps < kMaxListSteps && out->count < kMaxCrashModules; ++steps) {
    const uint64_t entry = link;
    if (!memory.ReadPointer(entry, layout.pointer_size, &link)) break;
    CrashModule& module = out->modules[out->count];
    if (!memory.ReadPointer(entry + layout.entry_dll_base, layout.pointer_size, &module.base)) continue;
    if (module.base == 0 || AlreadyListed(*out, module.base)) continue;
    if (!ReadPeImage(memory, module.base, &module.facts)) continue;
    if (!ReadEntryName(memory, entry, layout, module.name)) module.name[0] = 0;
    ++out->count;
  }
  SortByBase(out);
  return out->count;
}

int FindModule(const ModuleTable& table, uint64_t address) {
  int low = 0, high = table.count;  // the last module with base <= address lies below high
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (table.modules[middle].base <= address) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == 0) return -1;
  const CrashModule& module = table.modules[low - 1];
  return address - module.base < module.facts.size_of_image ? low - 1 : -1;
}

bool InModuleCode(const ModuleTable& table, uint64_t address) {
  const int index = FindModule(table, address);
  if (index < 0) return false;
  const CrashModule& module = table.modules[index];
  const uint64_t rva = address - module.base;
  for (int i = 0; i < module.facts.code_range_count; ++i) {
    if (rva >= module.facts.code[i].begin && rva < module.facts.code[i].end) return true;
  }
  return false;
}

void Utf16ToUtf8(const uint16_t* text, int units, char* out, int capacity) {
  int n = 0;
  for (int i = 0; i < units; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    char bytes[4];
    int size;
    if (c < 0x80) {
      bytes[0] = char(c), size = 1;
    } else if (c < 0x800) {
      bytes[0] = char(0xC0 | c >> 6), bytes[1] = char(0x80 | (c & 0x3F)), size = 2;
    } else if (c < 0x10000) {
      bytes[0] = char(0xE0 | c >> 12), bytes[1] = char(0x80 | ((c >> 6) & 0x3F)), bytes[2] = char(0x80 | (c & 0x3F));
      size = 3;
    } else {
      bytes[0] = char(0xF0 | c >> 18), bytes[1] = char(0x80 | ((c >> 12) & 0x3F));
      bytes[2] = char(0x80 | ((c >> 6) & 0x3F)), bytes[3] = char(0x80 | (c & 0x3F)), size = 4;
    }
    if (n + size > capacity - 1) break;
    std::memcpy(out + n, bytes, size_t(size));
    n += size;
  }
  if (capacity > 0) out[n] = 0;
}

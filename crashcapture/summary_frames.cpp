#include "crashcapture/summary_frames.h"

#include <cstring>

namespace {

void CopyModule(const CrashModule& from, SummaryModule* to) {
  to->base = from.base;
  to->size = from.facts.size_of_image;
  to->time_stamp = from.facts.time_stamp;
  to->debug_id_kind = from.facts.debug_id_kind;
  std::memcpy(to->signature, from.facts.signature, sizeof to->signature);
  to->age = from.facts.age;
  std::memcpy(to->name, from.name, sizeof to->name);
  std::memcpy(to->debug_file, from.facts.debug_file, sizeof to->debug_file);
}

// The summary's index of table module `index`, adding it when it is new; -1 when the summary's
// module list is full.
int SummaryModuleFor(const ModuleTable& table, int index, int* summary_index_of, CrashSummary* summary) {
  if (summary_index_of[index] >= 0) return summary_index_of[index];
  if (summary->module_count >= kMaxSummaryModules) return -1;
  CopyModule(table.modules[index], &summary->modules[summary->module_count]);
  summary_index_of[index] = summary->module_count;
  return summary->module_count++;
}

}  // namespace

void AddModulesAndFrames(const ModuleTable& table, const StackCandidates& candidates, CrashSummary* summary) {
  int summary_index_of[kMaxCrashModules];
  for (int& index : summary_index_of) index = -1;
  summary->module_count = 0;
  summary->frame_count = 0;
  summary->fault_module = -1;
  summary->fault_offset = 0;
  const int fault = FindModule(table, summary->exception_address);
  if (fault >= 0) {
    summary->fault_module = SummaryModuleFor(table, fault, summary_index_of, summary);
    summary->fault_offset = uint32_t(summary->exception_address - table.modules[fault].base);
  }
  for (int i = 0; i < candidates.count && summary->frame_count < kMaxSummaryFrames; ++i) {
    const int module = FindModule(table, candidates.addresses[i]);
    if (module < 0) continue;
    const int index = SummaryModuleFor(table, module, summary_index_of, summary);
    if (index < 0) continue;
    SummaryFrame& frame = summary->frames[summary->frame_count++];
    frame.module = uint16_t(index);
    frame.offset = uint32_t(candidates.addresses[i] - table.modules[module].base);
  }
}

void SetSummaryMessage(const char* text, size_t capacity, CrashSummary* summary) {
  const size_t length = strnlen(text, capacity);
  const size_t kept = length < size_t(kMaxSummaryMessageLength) ? length : size_t(kMaxSummaryMessageLength);
  std::memcpy(summary->message, text, kept);
  summary->message[kept] = 0;
  summary->message_cut = length > kept;
}

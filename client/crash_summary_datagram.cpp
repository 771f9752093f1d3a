#include "client/crash_summary_datagram.h"

#include <cstring>

#include "client/wire_bytes.h"

namespace {

// Payload bytes before the parameters: format, architecture, flags, crash id, thread id,
// exception code, flags and address, fault offset, parameter count.
constexpr size_t kSummaryFixedSize = 33;
constexpr size_t kFrameWireSize = 5;       // module index, offset
constexpr size_t kModuleFixedWireSize = 17;  // base, size, time stamp, debug id kind
constexpr int kMaxWireCount = 255;         // module and frame counts are one byte

// The order in which CONTEXT's general registers are usually printed.
const char* const kX86Registers[] = {"eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "esp", "eip", "eflags"};
const char* const kX64Registers[] = {"rax", "rbx", "rcx", "rdx", "rsi", "rdi", "rbp", "rsp", "r8",
                                     "r9",  "r10", "r11", "r12", "r13", "r14", "r15", "rip", "eflags"};

const RegisterLayout kRegisterLayouts[] = {
    {kArchitectureX86, int(sizeof kX86Registers / sizeof *kX86Registers), 4, kX86Registers},
    {kArchitectureX64, int(sizeof kX64Registers / sizeof *kX64Registers), 8, kX64Registers},
};
static_assert(sizeof kX64Registers / sizeof *kX64Registers <= kMaxSummaryRegisters, "");

size_t SignatureSize(uint8_t kind) {
  if (kind == kDebugIdPdb70) return kPdb70SignatureSize;
  if (kind == kDebugIdPdb20) return kPdb20SignatureSize;
  return 0;
}

size_t NameLength(const char* name) { return strnlen(name, kMaxSummaryNameLength); }

size_t ModuleWireSize(const SummaryModule& module) {
  size_t size = kModuleFixedWireSize + 1 + NameLength(module.name);
  if (module.debug_id_kind != kDebugIdNone) {
    size += SignatureSize(module.debug_id_kind) + 4 + 1 + NameLength(module.debug_file);
  }
  return size;
}

size_t MessageLength(const CrashSummary& summary) { return strnlen(summary.message, kMaxSummaryMessageLength); }

bool SummaryWellFormed(const CrashSummary& s) {
  if (!SummaryRegisterLayout(s.architecture)) return false;
  if (s.parameter_count > kMaxSummaryParameters) return false;
  if (s.module_count < 0 || s.module_count > kMaxSummaryModules) return false;
  if (s.frame_count < 0 || s.frame_count > kMaxSummaryFrames) return false;
  if (s.fault_module < -1 || s.fault_module >= s.module_count) return false;
  for (int i = 0; i < s.module_count; ++i) {
    if (s.modules[i].debug_id_kind > kDebugIdPdb20) return false;
  }
  for (int i = 0; i < s.frame_count; ++i) {
    if (s.frames[i].module >= s.module_count) return false;
  }
  return true;
}

// Which modules and frames go on the wire, and the modules' new numbers.
struct WireSelection {
  int module_count;
  uint8_t modules[kMaxSummaryModules];   // input index of each wire module
  int wire_index[kMaxSummaryModules];    // wire index of each input module, -1 when left out
  int frame_count;
  bool frames_cut;
};

bool SelectForWire(const CrashSummary& s, size_t room, WireSelection* out) {
  out->module_count = 0;
  out->frame_count = 0;
  out->frames_cut = false;
  for (int& index : out->wire_index) index = -1;
  if (s.fault_module >= 0) {
    const size_t size = ModuleWireSize(s.modules[s.fault_module]);
    if (size > room) return false;
    room -= size;
    out->wire_index[s.fault_module] = 0;
    out->modules[out->module_count++] = uint8_t(s.fault_module);
  }
  for (int f = 0; f < s.frame_count; ++f) {
    const int module = s.frames[f].module;
    const bool module_new = out->wire_index[module] < 0;
    const size_t size = kFrameWireSize + (module_new ? ModuleWireSize(s.modules[module]) : 0);
    if (size > room || out->frame_count == kMaxWireCount) {
      out->frames_cut = true;
      break;
    }
    room -= size;
    if (module_new) {
      out->wire_index[module] = out->module_count;
      out->modules[out->module_count++] = uint8_t(module);
    }
    ++out->frame_count;
  }
  return true;
}

uint8_t* PutName(uint8_t* p, const char* name) {
  const size_t length = NameLength(name);
  p = PutU8(p, uint32_t(length));
  return PutBytes(p, name, length);
}

uint8_t* PutModule(uint8_t* p, const SummaryModule& module) {
  p = PutU64(p, module.base);
  p = PutU32(p, module.size);
  p = PutU32(p, module.time_stamp);
  p = PutU8(p, module.debug_id_kind);
  p = PutName(p, module.name);
  if (module.debug_id_kind == kDebugIdNone) return p;
  p = PutBytes(p, module.signature, SignatureSize(module.debug_id_kind));
  p = PutU32(p, module.age);
  return PutName(p, module.debug_file);
}

// Copies a length-prefixed name into a zero-terminated field; false when it is too long.
bool ReadName(WireReader& reader, char* out) {
  const uint8_t length = reader.U8();
  const uint8_t* bytes = reader.Bytes(length);
  if (!reader.ok() || length > kMaxSummaryNameLength) return false;
  std::memcpy(out, bytes, length);
  out[length] = 0;
  return true;
}

const char* ReadModule(WireReader& reader, SummaryModule* module) {
  module->base = reader.U64();
  module->size = reader.U32();
  module->time_stamp = reader.U32();
  module->debug_id_kind = reader.U8();
  if (!ReadName(reader, module->name)) return reader.ok() ? "summary counts" : "short summary";
  if (!reader.ok()) return "short summary";
  if (module->debug_id_kind == kDebugIdNone) return nullptr;
  const size_t signature_size = SignatureSize(module->debug_id_kind);
  if (signature_size == 0) return "debug id";
  const uint8_t* signature = reader.Bytes(signature_size);
  module->age = reader.U32();
  if (!reader.ok()) return "short summary";
  std::memcpy(module->signature, signature, signature_size);
  if (!ReadName(reader, module->debug_file)) return reader.ok() ? "summary counts" : "short summary";
  return nullptr;
}

}  // namespace

const RegisterLayout* SummaryRegisterLayout(uint8_t architecture) {
  for (const RegisterLayout& layout : kRegisterLayouts) {
    if (layout.architecture == architecture) return &layout;
  }
  return nullptr;
}

size_t BuildCrashSummaryDatagram(uint8_t* out, size_t capacity, const DatagramIdentity& who,
                                 const CrashSummary& summary) {
  std::memset(out, 0, capacity);
  if (!DatagramIdentityComplete(who) || !SummaryWellFormed(summary)) return 0;
  const RegisterLayout& registers = *SummaryRegisterLayout(summary.architecture);
  const size_t limit = capacity < size_t(kMaxCrashDatagramSize) ? capacity : size_t(kMaxCrashDatagramSize);
  const size_t message_length = MessageLength(summary);
  const size_t fixed = size_t(kHeaderSize) + kSummaryFixedSize + 8 * size_t(summary.parameter_count) +
                       size_t(registers.count) * size_t(registers.width) + 2 + message_length + 1 + 1;
  WireSelection selection;
  if (fixed > limit || !SelectForWire(summary, limit - fixed, &selection)) return 0;

  uint16_t flags = 0;
  if (summary.fault_module >= 0) flags |= kSummaryFaultModuleKnown;
  if (summary.message_cut) flags |= kSummaryMessageCut;
  if (selection.frames_cut) flags |= kSummaryFramesCut;

  uint8_t* payload = out + kHeaderSize;
  uint8_t* p = payload;
  p = PutU8(p, kSummaryFormat);
  p = PutU8(p, summary.architecture);
  p = PutU16(p, flags);
  p = PutU32(p, summary.crash_id);
  p = PutU32(p, summary.thread_id);
  p = PutU32(p, summary.exception_code);
  p = PutU32(p, summary.exception_flags);
  p = PutU64(p, summary.exception_address);
  p = PutU32(p, summary.fault_offset);
  p = PutU8(p, summary.parameter_count);
  for (int i = 0; i < summary.parameter_count; ++i) p = PutU64(p, summary.parameters[i]);
  for (int i = 0; i < registers.count; ++i) {
    p = registers.width == 4 ? PutU32(p, uint32_t(summary.registers[i])) : PutU64(p, summary.registers[i]);
  }
  p = PutU16(p, uint32_t(message_length));
  p = PutBytes(p, summary.message, message_length);
  p = PutU8(p, uint32_t(selection.module_count));
  for (int i = 0; i < selection.module_count; ++i) p = PutModule(p, summary.modules[selection.modules[i]]);
  p = PutU8(p, uint32_t(selection.frame_count));
  for (int i = 0; i < selection.frame_count; ++i) {
    p = PutU8(p, uint32_t(selection.wire_index[summary.frames[i].module]));
    p = PutU32(p, summary.frames[i].offset);
  }
  const size_t payload_length = size_t(p - payload);
  PutDatagramHeader(out, KIND_CRASH_SUMMARY, who, uint32_t(payload_length));
  return kHeaderSize + payload_length;
}

const char* DecodeCrashSummaryDatagram(const uint8_t* in, size_t size, DatagramHeaderView* header,
                                       CrashSummary* summary) {
  std::memset(summary, 0, sizeof *summary);
  summary->fault_module = -1;
  if (const char* reason = ReadDatagramHeader(in, size, header)) return reason;
  if (header->kind != KIND_CRASH_SUMMARY) return "kind";
  WireReader reader(header->payload, header->payload_length);
  const uint8_t format = reader.U8();
  summary->architecture = reader.U8();
  const uint16_t flags = reader.U16();
  summary->crash_id = reader.U32();
  summary->thread_id = reader.U32();
  summary->exception_code = reader.U32();
  summary->exception_flags = reader.U32();
  summary->exception_address = reader.U64();
  summary->fault_offset = reader.U32();
  summary->parameter_count = reader.U8();
  if (!reader.ok()) return "short summary";
  if (format != kSummaryFormat) return "summary format";
  const RegisterLayout* registers = SummaryRegisterLayout(summary->architecture);
  if (!registers) return "architecture";
  if (summary->parameter_count > kMaxSummaryParameters) return "summary counts";
  for (int i = 0; i < summary->parameter_count; ++i) summary->parameters[i] = reader.U64();
  for (int i = 0; i < registers->count; ++i) {
    summary->registers[i] = registers->width == 4 ? reader.U32() : reader.U64();
  }
  const uint16_t message_length = reader.U16();
  const uint8_t* message = reader.Bytes(message_length);
  summary->module_count = reader.U8();
  if (!reader.ok()) return "short summary";
  if (message_length > kMaxSummaryMessageLength || summary->module_count > kMaxSummaryModules) {
    return "summary counts";
  }
  std::memcpy(summary->message, message, message_length);
  for (int i = 0; i < summary->module_count; ++i) {
    if (const char* reason = ReadModule(reader, &summary->modules[i])) return reason;
  }
  summary->frame_count = reader.U8();
  if (!reader.ok()) return "short summary";
  if (summary->frame_count > kMaxSummaryFrames) return "summary counts";
  for (int i = 0; i < summary->frame_count; ++i) {
    const uint8_t module = reader.U8();
    summary->frames[i].offset = reader.U32();
    if (!reader.ok()) return "short summary";
    if (module >= summary->module_count) return "module index";
    summary->frames[i].module = module;
  }
  if (reader.left() != 0) return "trailing bytes";
  summary->message_cut = (flags & kSummaryMessageCut) != 0;
  summary->frames_cut = (flags & kSummaryFramesCut) != 0;
  if (flags & kSummaryFaultModuleKnown) {
    if (summary->module_count == 0) return "module index";
    summary->fault_module = 0;
  }
  return nullptr;
}

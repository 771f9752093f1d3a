// KIND_CRASH_SUMMARY: one datagram, sent first when the library crashes, that lets a developer
// read the crash even when nothing else arrives: the exception, the faulting thread's registers,
// its stack as module + offset, the modules with what a symbol store needs to find their symbols,
// and the module's last log line. Payload, big-endian:
//
//   0  u8   SummaryFormat     1
//   1  u8   Architecture      1 x86, 2 x64: selects the register list (SummaryRegisterLayout)
//   2  u16  Flags             kSummaryFaultModuleKnown | kSummaryMessageCut | kSummaryFramesCut
//   4  u32  CrashId           the same id as the crash's package parts
//   8  u32  ThreadId          the faulting thread
//  12  u32  ExceptionCode
//  16  u32  ExceptionFlags
//  20  u64  ExceptionAddress
//  28  u32  FaultOffset       ExceptionAddress - base of module 0, when the fault module is known
//  32  u8   ParameterCount p  the exception's first parameters (an access violation's: read,
//  33  u64  Parameters[p]     write or execute, and the address)
//   .  ...  Registers         the architecture's list, 4 bytes each (x86) or 8 (x64)
//   .  u16  MessageLength m, then m bytes of the last log line (ANSI, GBK in China)
//   .  u8   ModuleCount, then the modules (below); module 0 is the fault module when known
//   .  u8   FrameCount, then per frame u8 module index and u32 offset in that module
//
// A module: u64 Base, u32 SizeOfImage, u32 TimeDateStamp (with SizeOfImage the binary's id in a
// symbol store), u8 DebugIdKind, u8 length and the UTF-8 file name; then, with a debug id, the
// PDB's: for kDebugIdPdb70 the 16 GUID bytes in the order the id is written (Data1, Data2, Data3
// big-endian, then Data4), for kDebugIdPdb20 the u32 signature; u32 Age; u8 length and the PDB's
// file name.
//
// Frames are return-address candidates, most likely first; as many go as fit in one datagram of
// kMaxCrashDatagramSize, each with the module it lies in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/datagram.h"

constexpr uint8_t kSummaryFormat = 1;

enum SummaryArchitecture : uint8_t {
  kArchitectureX86 = 1,
  kArchitectureX64 = 2,
};

enum DebugIdKind : uint8_t {
  kDebugIdNone = 0,
  kDebugIdPdb70 = 1,  // CodeView "RSDS": GUID and age
  kDebugIdPdb20 = 2,  // CodeView "NB10": 32-bit signature and age
};

constexpr uint16_t kSummaryFaultModuleKnown = 0x1;
constexpr uint16_t kSummaryMessageCut = 0x2;  // the log line was longer than kMaxSummaryMessageLength
constexpr uint16_t kSummaryFramesCut = 0x4;   // more frames were found than fit

constexpr int kMaxSummaryRegisters = 18;
constexpr int kMaxSummaryParameters = 4;
constexpr int kMaxSummaryModules = 64;
constexpr int kMaxSummaryFrames = 128;
constexpr int kMaxSummaryNameLength = 64;
constexpr int kMaxSummaryMessageLength = 256;
constexpr int kPdb70SignatureSize = 16;
constexpr int kPdb20SignatureSize = 4;

struct RegisterLayout {
  uint8_t architecture;
  int count;
  int width;  // bytes of each register on the wire
  const char* const* names;
};

// Null for an architecture the format does not know.
const RegisterLayout* SummaryRegisterLayout(uint8_t architecture);

struct SummaryModule {
  uint64_t base;
  uint32_t size;  // SizeOfImage
  uint32_t time_stamp;
  uint8_t debug_id_kind;
  uint8_t signature[kPdb70SignatureSize];  // kDebugIdPdb20 uses the first four, big-endian
  uint32_t age;
  char name[kMaxSummaryNameLength + 1];        // the module's file name, without its folder
  char debug_file[kMaxSummaryNameLength + 1];  // the PDB's file name, without its folder
};

struct SummaryFrame {
  uint16_t module;  // index in CrashSummary::modules
  uint32_t offset;
};

struct CrashSummary {
  uint8_t architecture;
  uint32_t crash_id;
  uint32_t thread_id;
  uint32_t exception_code;
  uint32_t exception_flags;
  uint64_t exception_address;
  uint8_t parameter_count;
  uint64_t parameters[kMaxSummaryParameters];
  uint64_t registers[kMaxSummaryRegisters];  // in the order of SummaryRegisterLayout
  int fault_module;                          // index in modules, -1 when the address lies in none
  uint32_t fault_offset;
  bool message_cut;
  bool frames_cut;  // decoded only: the encoder decides what fits
  char message[kMaxSummaryMessageLength + 1];
  int module_count;
  SummaryModule modules[kMaxSummaryModules];
  int frame_count;
  SummaryFrame frames[kMaxSummaryFrames];
};

// Zeroes out[0, capacity) and writes the datagram, never longer than kMaxCrashDatagramSize: the
// fault module first, then frames in order for as long as each one, with its module when that is
// not on the wire yet, still fits. Modules no sent frame needs are left out, and the rest are
// numbered in the order the frames first name them. Returns the length, or 0 when the identities
// are incomplete or the summary is malformed (unknown architecture or debug id kind, a count
// beyond its array, an index past the modules).
size_t BuildCrashSummaryDatagram(uint8_t* out, size_t capacity, const DatagramIdentity& who,
                                 const CrashSummary& summary);

// Null when in is a sound summary, else why not: a header reason (datagram.h), "kind",
// "short summary", "summary format", "architecture", "summary counts", "debug id",
// "module index", "trailing bytes".
const char* DecodeCrashSummaryDatagram(const uint8_t* in, size_t size, DatagramHeaderView* header,
                                       CrashSummary* summary);

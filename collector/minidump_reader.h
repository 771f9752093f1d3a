// Reading of the parts of a Windows minidump that a crash report shows: the stream directory, the
// exception, the threads, the modules, the processor and the crash reporter's user streams. Pure and
// bounds-checked: the minidump comes from the network and may be cut or damaged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"

namespace collector {

struct MinidumpException {
  uint32_t thread_id = 0;
  uint32_t code = 0;
  uint64_t address = 0;
};

struct MinidumpUserStream {
  uint32_t type = 0;
  Bytes data;  // points into the minidump
};

struct MinidumpModuleImage {
  uint64_t base = 0;
  uint32_t size = 0;
  uint32_t time_stamp = 0;
};

struct MinidumpInfo {
  // The header and directory are sound and every stream read here lay inside the file.
  bool valid = false;
  std::string error;  // the first problem found, empty when none
  std::optional<uint64_t> dump_type;  // the header's flags: the MINIDUMP_TYPE it was written with
  std::vector<uint32_t> stream_types;  // in directory order
  std::optional<MinidumpException> exception;
  std::optional<std::vector<uint32_t>> thread_ids;
  std::optional<std::vector<std::u16string>> modules;
  std::vector<MinidumpModuleImage> module_images;  // beside `modules`, entry for entry
  std::optional<uint16_t> processor_architecture;  // SYSTEM_INFO's: 0 x86, 9 amd64
  std::vector<MinidumpUserStream> user_streams;  // types 0x10001 to 0x10005, first of each type
};

MinidumpInfo ReadMinidump(Bytes dump);

// The user stream of `type`, or null.
const MinidumpUserStream* FindUserStream(const MinidumpInfo& info, uint32_t type);

}  // namespace collector

// The CodeView record that ties a module to its PDB, as both the minidump's module list and the PE
// file's debug directory carry it, and the debug identifier a symbol store files symbols under.
#pragma once

#include <cstdint>
#include <string>

#include "bytes.h"

namespace collector {

struct CodeViewInfo {
  bool present = false;   // an "RSDS" (PDB 7.0) record was read
  uint8_t guid[16] = {};  // as stored: Data1, Data2 and Data3 little-endian, then Data4's 8 bytes
  uint32_t age = 0;
  std::string pdb_name;  // as the linker wrote it, often a full path on the build machine
};

// Reads an "RSDS" record: signature, 16-byte GUID, 32-bit age, zero-terminated PDB name. False
// for other and damaged records.
bool ReadCodeViewRecord(Bytes record, CodeViewInfo* out);

// The GUID in its usual order and the age, upper-case hexadecimal ("3F2A...C1" + "2") when there is
// a record; else the time stamp (8 digits) and image size, as Microsoft's symbol server files a
// binary.
std::string DebugId(const CodeViewInfo& codeview, uint32_t time_stamp, uint32_t image_size);

// The file name part of a Windows or POSIX path.
std::string BaseName(const std::string& path);

}  // namespace collector

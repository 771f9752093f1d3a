// A PE file from the symbols folder, read as far as the stack walk and the symbol match need it:
// headers, sections, the exception directory (x64 .pdata) and the debug directory's CodeView
// record. The file is the studio's own, but it is still read bounds-checked: a damaged or wrong file
// must give a note, not a crash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "codeview_record.h"
#include "image_bytes.h"

namespace collector {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

struct RuntimeFunction {     // RUNTIME_FUNCTION: the .pdata entry of one x64 function
  uint32_t begin = 0;        // RVA of its first byte
  uint32_t end = 0;          // RVA just past its last byte
  uint32_t unwind_info = 0;  // RVA of its UNWIND_INFO
};

class PeImage : public ImageBytes {
 public:
  // Takes the file's bytes; false, with the reason, when they are not a PE file we can use.
  bool Load(std::vector<uint8_t> file, std::string* problem);

  uint16_t machine() const { return machine_; }
  uint32_t time_stamp() const { return time_stamp_; }
  uint32_t size_of_image() const { return size_of_image_; }
  uint64_t image_base() const { return image_base_; }
  const CodeViewInfo& codeview() const { return codeview_; }

  // The image's bytes at [rva, rva + size) as the file holds them: false unless one section's file
  // data (or the headers) holds all of them.
  bool Read(uint32_t rva, uint32_t size, Bytes* out) const override;
  // Up to `size` bytes that end just before `rva`, within the section that holds rva - 1.
  Bytes Before(uint32_t rva, uint32_t size) const;
  // In a section the loader maps executable.
  bool IsCode(uint32_t rva) const;
  // The .pdata entry whose function holds `rva`; false for a leaf function or a file without one.
  bool FindFunction(uint32_t rva, RuntimeFunction* out) const;

 private:
  struct Section {
    uint32_t rva = 0, virtual_size = 0, file_offset = 0, file_size = 0, characteristics = 0;
  };
  bool ParseHeaders(std::string* problem);
  const Section* SectionOf(uint32_t rva) const;
  void ReadDebugDirectory(uint32_t rva, uint32_t size);

  std::vector<uint8_t> file_;
  uint16_t machine_ = 0;
  uint32_t time_stamp_ = 0;
  uint32_t size_of_image_ = 0;
  uint32_t size_of_headers_ = 0;
  uint64_t image_base_ = 0;
  std::vector<Section> sections_;
  // The exception directory: RUNTIME_FUNCTION entries sorted by begin. Kept as an RVA, not as a
  // pointer into file_, so that the image stays sound when it is moved.
  uint32_t functions_rva_ = 0, functions_size_ = 0;
  CodeViewInfo codeview_;
};

}  // namespace collector

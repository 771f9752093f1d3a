// The parts of the Windows minidump layout the collector reads. Our own packed definitions, so the
// reader builds on Linux without Windows headers; all fields are little-endian.
#pragma once

#include <cstdint>

namespace collector {

constexpr uint32_t kMinidumpSignature = 0x504D444D;  // "MDMP" read as a little-endian 32-bit number

// Stream types of the directory.
constexpr uint32_t kThreadListStream = 3;
constexpr uint32_t kModuleListStream = 4;
constexpr uint32_t kExceptionStream = 6;
constexpr uint32_t kSystemInfoStream = 7;
constexpr uint16_t kProcessorArchitectureX86 = 0;
constexpr uint16_t kProcessorArchitectureAmd64 = 9;
// The crash reporter's own user streams.
constexpr uint32_t USERSTREAM_EXTRAINFO = 0x10001;
constexpr uint32_t USERSTREAM_SCREENSHOT = 0x10002;
constexpr uint32_t USERSTREAM_USERINFO1 = 0x10003;
constexpr uint32_t USERSTREAM_USERINFO2 = 0x10004;
constexpr uint32_t USERSTREAM_USERINFO3 = 0x10005;

#pragma pack(push, 1)

struct MinidumpLocation {  // MINIDUMP_LOCATION_DESCRIPTOR
  uint32_t data_size;
  uint32_t rva;  // offset from the start of the file
};
static_assert(sizeof(MinidumpLocation) == 8, "MINIDUMP_LOCATION_DESCRIPTOR");

struct MinidumpHeader {  // MINIDUMP_HEADER
  uint32_t signature;
  uint32_t version;  // low half 0xA793, high half the writer's own
  uint32_t number_of_streams;
  uint32_t stream_directory_rva;
  uint32_t check_sum;
  uint32_t time_date_stamp;
  uint64_t flags;  // the MINIDUMP_TYPE the dump was written with
};
static_assert(sizeof(MinidumpHeader) == 32, "MINIDUMP_HEADER");

struct MinidumpDirectory {  // MINIDUMP_DIRECTORY
  uint32_t stream_type;
  MinidumpLocation location;
};
static_assert(sizeof(MinidumpDirectory) == 12, "MINIDUMP_DIRECTORY");

struct MinidumpExceptionRecord {  // MINIDUMP_EXCEPTION
  uint32_t exception_code;
  uint32_t exception_flags;
  uint64_t exception_record;  // address of a chained record in the dumped process
  uint64_t exception_address;
  uint32_t number_parameters;
  uint32_t unused_alignment;
  uint64_t exception_information[15];
};
static_assert(sizeof(MinidumpExceptionRecord) == 152, "MINIDUMP_EXCEPTION");

struct MinidumpExceptionStream {  // MINIDUMP_EXCEPTION_STREAM
  uint32_t thread_id;
  uint32_t alignment;
  MinidumpExceptionRecord exception_record;
  MinidumpLocation thread_context;
};
static_assert(sizeof(MinidumpExceptionStream) == 168, "MINIDUMP_EXCEPTION_STREAM");

struct MinidumpMemoryDescriptor {  // MINIDUMP_MEMORY_DESCRIPTOR
  uint64_t start_of_memory_range;
  MinidumpLocation memory;
};
static_assert(sizeof(MinidumpMemoryDescriptor) == 16, "MINIDUMP_MEMORY_DESCRIPTOR");

struct MinidumpThread {  // MINIDUMP_THREAD; the list is a 32-bit count and then these
  uint32_t thread_id;
  uint32_t suspend_count;
  uint32_t priority_class;
  uint32_t priority;
  uint64_t teb;
  MinidumpMemoryDescriptor stack;
  MinidumpLocation thread_context;
};
static_assert(sizeof(MinidumpThread) == 48, "MINIDUMP_THREAD");

struct FixedFileInfo {  // VS_FIXEDFILEINFO
  uint32_t fields[13];
};
static_assert(sizeof(FixedFileInfo) == 52, "VS_FIXEDFILEINFO");

struct MinidumpModule {  // MINIDUMP_MODULE; the list is a 32-bit count and then these
  uint64_t base_of_image;
  uint32_t size_of_image;
  uint32_t check_sum;
  uint32_t time_date_stamp;
  uint32_t module_name_rva;  // a MINIDUMP_STRING: 32-bit byte length, then UTF-16 units
  FixedFileInfo version_info;
  MinidumpLocation cv_record;
  MinidumpLocation misc_record;
  uint64_t reserved0;
  uint64_t reserved1;
};
static_assert(sizeof(MinidumpModule) == 108, "MINIDUMP_MODULE");

#pragma pack(pop)

}  // namespace collector

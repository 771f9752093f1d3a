#include "minidump_reader.h"

#include <cstring>

#include "input_limits.h"
#include "minidump_format.h"

namespace collector {
namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the minidump structures are copied as they lie in the file");

// Copies a structure from `offset`, or fails when it does not fit.
template <typename T>
bool ReadStruct(Bytes in, uint64_t offset, T* out) {
  Bytes slice;
  if (!Slice(in, offset, sizeof(T), &slice)) return false;
  std::memcpy(out, slice.data, sizeof(T));
  return true;
}

class Reader {
 public:
  Reader(Bytes dump, MinidumpInfo* info) : dump_(dump), info_(info) {}

  void Fail(const std::string& problem) {
    if (info_->error.empty()) info_->error = problem;
  }

  // The bytes of a stream, or false (and a recorded problem) when they leave the file.
  bool StreamBytes(const MinidumpDirectory& entry, Bytes* out) {
    if (Slice(dump_, entry.location.rva, entry.location.data_size, out)) return true;
    Fail("stream " + std::to_string(entry.stream_type) + " lies outside the file");
    return false;
  }

  void ReadException(Bytes stream) {
    MinidumpExceptionStream raw;
    if (!ReadStruct(stream, 0, &raw)) return Fail("exception stream too short");
    MinidumpException exception;
    exception.thread_id = raw.thread_id;
    exception.code = raw.exception_record.exception_code;
    exception.address = raw.exception_record.exception_address;
    info_->exception = exception;
  }

  // A thread or module list: a 32-bit count, then that many entries, all inside the stream. Reads
  // the entries that fit and records a problem when the count claims more.
  template <typename T, typename Each>
  void ReadList(Bytes stream, const char* what, Each each) {
    uint32_t count = 0;
    if (!ReadLe32(stream, 0, &count)) return Fail(std::string(what) + " list too short");
    uint64_t fit = (stream.size - 4) / sizeof(T);
    if (count > fit) Fail(std::string(what) + " list claims " + std::to_string(count) + " entries");
    if (count > kMaxListEntries && count <= fit) {
      Fail(std::string(what) + " list of " + std::to_string(count) + " entries: read the first " +
           std::to_string(kMaxListEntries));
    }
    for (uint64_t i = 0; i < count && i < fit && i < kMaxListEntries; ++i) {
      T entry{};
      ReadStruct(stream, 4 + i * sizeof(T), &entry);
      each(entry);
    }
  }

  // A MINIDUMP_STRING anywhere in the file: a byte length, then UTF-16LE units.
  std::u16string ReadName(uint32_t rva) {
    uint32_t length = 0;
    Bytes units;
    if (!ReadLe32(dump_, rva, &length) || length % 2 != 0 || !Slice(dump_, uint64_t{rva} + 4, length, &units)) {
      Fail("module name at " + std::to_string(rva) + " unreadable");
      return std::u16string();
    }
    if (length > kMaxModuleNameUnits * 2) {
      Fail("module name at " + std::to_string(rva) + " of " + std::to_string(length / 2) + " units: cut");
      length = kMaxModuleNameUnits * 2;
    }
    if (name_bytes_ + length > kMaxModuleNameBytesTotal) {
      Fail("module names longer than " + std::to_string(kMaxModuleNameBytesTotal) + " bytes together: the rest left out");
      return std::u16string();
    }
    name_bytes_ += length;
    std::u16string name(length / 2, u'\0');
    for (size_t i = 0; i < name.size(); ++i) {
      name[i] = static_cast<char16_t>(units.data[2 * i] | units.data[2 * i + 1] << 8);
    }
    return name;
  }

  void ReadStream(const MinidumpDirectory& entry) {
    Bytes stream;
    switch (entry.stream_type) {
      case kExceptionStream:
        if (!info_->exception && StreamBytes(entry, &stream)) ReadException(stream);
        break;
      case kThreadListStream:
        if (!info_->thread_ids && StreamBytes(entry, &stream)) {
          info_->thread_ids.emplace();
          ReadList<MinidumpThread>(stream, "thread",
                                   [&](const MinidumpThread& t) { info_->thread_ids->push_back(t.thread_id); });
        }
        break;
      case kModuleListStream:
        if (!info_->modules && StreamBytes(entry, &stream)) {
          info_->modules.emplace();
          ReadList<MinidumpModule>(stream, "module", [&](const MinidumpModule& m) {
            info_->modules->push_back(ReadName(m.module_name_rva));
            info_->module_images.push_back(MinidumpModuleImage{m.base_of_image, m.size_of_image, m.time_date_stamp});
          });
        }
        break;
      case USERSTREAM_EXTRAINFO:
      case USERSTREAM_SCREENSHOT:
      case USERSTREAM_USERINFO1:
      case USERSTREAM_USERINFO2:
      case USERSTREAM_USERINFO3:
        if (!FindUserStream(*info_, entry.stream_type) && StreamBytes(entry, &stream)) {
          info_->user_streams.push_back(MinidumpUserStream{entry.stream_type, stream});
        }
        break;
      case kSystemInfoStream:
        if (!info_->processor_architecture && StreamBytes(entry, &stream)) {
          uint16_t architecture = 0;
          if (stream.size >= 2) {
            architecture = static_cast<uint16_t>(stream.data[0] | stream.data[1] << 8);
            info_->processor_architecture = architecture;
          }
        }
        break;
      default:
        break;
    }
  }

  void Run() {
    MinidumpHeader header;
    if (!ReadStruct(dump_, 0, &header)) return Fail("shorter than a minidump header");
    if (header.signature != kMinidumpSignature) return Fail("no MDMP signature");
    info_->dump_type = header.flags;
    uint32_t streams = header.number_of_streams;
    if (streams > kMaxStreams) {
      Fail("stream directory of " + std::to_string(streams) + " entries: read the first " + std::to_string(kMaxStreams));
      streams = kMaxStreams;
    }
    Bytes directory;
    if (!Slice(dump_, header.stream_directory_rva, uint64_t{streams} * sizeof(MinidumpDirectory), &directory)) {
      return Fail("stream directory lies outside the file");
    }
    for (uint32_t i = 0; i < streams; ++i) {
      MinidumpDirectory entry{};
      ReadStruct(directory, uint64_t{i} * sizeof entry, &entry);
      info_->stream_types.push_back(entry.stream_type);
      ReadStream(entry);
    }
    info_->valid = info_->error.empty();
  }

 private:
  Bytes dump_;
  MinidumpInfo* info_;
  size_t name_bytes_ = 0;
};

}  // namespace

MinidumpInfo ReadMinidump(Bytes dump) {
  MinidumpInfo info;
  Reader(dump, &info).Run();
  return info;
}

const MinidumpUserStream* FindUserStream(const MinidumpInfo& info, uint32_t type) {
  for (const MinidumpUserStream& stream : info.user_streams) {
    if (stream.type == type) return &stream;
  }
  return nullptr;
}

}  // namespace collector

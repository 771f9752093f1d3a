#include "crash_report.h"

#include <algorithm>

#include "datagram_decoder.h"
#include "json_writer.h"
#include "input_limits.h"
#include "minidump_format.h"
#include "output_files.h"

namespace collector {
namespace {

Bytes View(const std::vector<uint8_t>& v) { return Bytes{v.data(), v.size()}; }

const UserTextLimit* TextLimit(uint32_t stream_type) {
  for (const UserTextLimit& limit : kUserTextLimits) {
    if (limit.stream_type == stream_type) return &limit;
  }
  return nullptr;
}

void Screenshot(JsonWriter* json, const CrashReport& report, const CrashReportFiles& files) {
  const MinidumpUserStream* stream = FindUserStream(report.minidump, USERSTREAM_SCREENSHOT);
  if (!stream) return;
  json->Key("screenshot").BeginObject();
  json->Key("bytes").Uint(stream->data.size);
  if (!files.screenshot.empty()) json->Key("file").ByteString(files.screenshot);
  if (report.screenshot_size) {
    json->Key("jpeg_width").Uint(report.screenshot_size->width);
    json->Key("jpeg_height").Uint(report.screenshot_size->height);
  }
  json->EndObject();
}

// Reads what the minidump holds and notes every text the client could not have sent so long.
void ReadDump(CrashReport* report) {
  report->minidump = ReadMinidump(View(report->package.minidump));
  if (const MinidumpUserStream* jpeg = FindUserStream(report->minidump, USERSTREAM_SCREENSHOT)) {
    JpegSize size;
    if (ReadJpegSize(jpeg->data, &size)) report->screenshot_size = size;
  }
  for (const UserTextLimit& limit : kUserTextLimits) {
    const MinidumpUserStream* stream = FindUserStream(report->minidump, limit.stream_type);
    if (stream && stream->data.size > limit.max_bytes) {
      report->cut.push_back(std::string(limit.json_key) + " of " + std::to_string(stream->data.size) +
                            " bytes cut to the client's " + std::to_string(limit.max_bytes));
    }
  }
}

}  // namespace

std::string CrashReportError(const CrashReport& report, const CrashReportFiles& files) {
  if (!report.package.error.empty()) return "package: " + report.package.error;
  if (report.package.minidump.empty()) return "package: no complete chunk";
  if (!report.minidump.error.empty()) return "minidump: " + report.minidump.error;
  return files.error;
}

bool KeyPackageWhole(const CrashReport& report) {
  if (report.package_bytes < kMaxBlobLength) return true;
  return !report.package.truncated && report.package.error.empty() && report.minidump.valid;
}

void ReadCrashReport(Bytes package, size_t max_dump_bytes, CrashReport* report) {
  report->package_bytes = package.size;
  report->package = ReadPackage(package, max_dump_bytes);
  ReadDump(report);
}

void ReadCrashDump(Bytes minidump, CrashReport* report) {
  report->package.header_ok = true;
  report->package.minidump.assign(minidump.data, minidump.data + minidump.size);
  ReadDump(report);
}

Bytes UserText(const CrashReport& report, uint32_t stream_type) {
  const MinidumpUserStream* stream = FindUserStream(report.minidump, stream_type);
  if (!stream) return Bytes{};
  const UserTextLimit* limit = TextLimit(stream_type);
  Bytes text = stream->data;
  if (limit) text.size = std::min(text.size, limit->max_bytes);
  return text;
}

namespace {

// How many thread ids and module names the line shows.
struct Shown {
  size_t threads;
  size_t modules;
};

std::string BuildLine(const CrashReport& report, const CrashReportFiles& files, Shown shown,
                      const std::string& list_cut) {
  const MinidumpInfo& dump = report.minidump;
  JsonWriter json;
  json.BeginObject();
  json.Key("event").String("crash_report");
  if (!files.dir.empty()) json.Key("dir").ByteString(files.dir);
  json.Key("package_bytes").Uint(report.package_bytes);
  json.Key("truncated").Bool(report.package.truncated);
  json.Key("chunks").Uint(report.package.chunks);
  json.Key("minidump_bytes").Uint(report.package.minidump.size());
  json.Key("minidump_valid").Bool(dump.valid);
  std::string error = CrashReportError(report, files);
  if (!error.empty()) json.Key("error").ByteString(error);
  if (dump.exception) {
    json.Key("exception").BeginObject();
    json.Key("thread_id").Uint(dump.exception->thread_id);
    json.Key("code").Uint(dump.exception->code);
    json.Key("address").Uint(dump.exception->address);
    json.EndObject();
  }
  if (dump.thread_ids) {
    json.Key("threads").Uint(dump.thread_ids->size());
    json.Key("thread_ids").BeginArray();
    for (size_t i = 0; i < shown.threads; ++i) json.Uint((*dump.thread_ids)[i]);
    json.EndArray();
  }
  if (dump.modules) {
    json.Key("modules").BeginArray();
    for (size_t i = 0; i < shown.modules; ++i) json.Utf16String((*dump.modules)[i]);
    json.EndArray();
  }
  if (!dump.stream_types.empty()) {
    json.Key("streams").BeginArray();
    for (uint32_t type : dump.stream_types) json.Uint(type);
    json.EndArray();
  }
  if (dump.dump_type) json.Key("minidump_type").Uint(*dump.dump_type);
  for (const UserTextLimit& limit : kUserTextLimits) {
    if (FindUserStream(dump, limit.stream_type)) json.Key(limit.json_key).ByteString(UserText(report, limit.stream_type));
  }
  Screenshot(&json, report, files);
  if (!report.cut.empty() || !list_cut.empty()) {
    json.Key("cut").BeginArray();
    for (const std::string& sentence : report.cut) json.String(sentence);
    if (!list_cut.empty()) json.String(list_cut);
    json.EndArray();
  }
  if (files.whole) json.Key("whole").Bool(*files.whole);
  if (files.wire_id) json.Key("wire_id").Uint(*files.wire_id);
  if (!files.signature.empty()) json.Key("signature").ByteString(files.signature);
  if (files.crash_id > 0) json.Key("crash_id").Uint(static_cast<uint64_t>(files.crash_id));
  if (!files.page.empty()) json.Key("page").String(files.page);
  json.EndObject();
  return json.str();
}

// What one list element prints, comma included.
size_t PrintedSize(uint32_t id) { return std::to_string(id).size() + 1; }
size_t PrintedSize(const std::u16string& name) {
  size_t size = 3;  // quotes and comma
  for (char16_t unit : name) size += unit >= 0x20 && unit < 0x7F ? (unit == '"' || unit == '\\' ? 2 : 1) : 6;
  return size;
}

// Takes elements off the end of `list` until `excess` bytes are saved or nothing is left.
template <typename T>
size_t Shorten(const std::vector<T>& list, size_t shown, size_t* excess) {
  while (shown > 0 && *excess > 0) {
    size_t saved = PrintedSize(list[shown - 1]);
    *excess = saved >= *excess ? 0 : *excess - saved;
    --shown;
  }
  return shown;
}

}  // namespace

size_t CrashLineBudget(const CrashReport& report) {
  size_t arrived = report.package_bytes ? report.package_bytes : report.package.minidump.size();
  return std::min(kMaxCrashLineBytes, kCrashLineBaseBytes + kCrashLinePerByte * arrived);
}

std::string CrashReportJson(const CrashReport& report, const CrashReportFiles& files) {
  const MinidumpInfo& dump = report.minidump;
  Shown all{dump.thread_ids ? dump.thread_ids->size() : 0, dump.modules ? dump.modules->size() : 0};
  std::string line = BuildLine(report, files, all, "");
  size_t budget = CrashLineBudget(report);
  if (line.size() <= budget) return line;
  // Room for the sentence that says what was left out.
  constexpr size_t kSentenceRoom = 128;
  size_t excess = line.size() - budget + kSentenceRoom;
  Shown shown = all;
  if (dump.modules) shown.modules = Shorten(*dump.modules, shown.modules, &excess);
  if (dump.thread_ids) shown.threads = Shorten(*dump.thread_ids, shown.threads, &excess);
  std::string sentence = "the line shows " + std::to_string(shown.modules) + " of " + std::to_string(all.modules) +
                         " modules and " + std::to_string(shown.threads) + " of " + std::to_string(all.threads) +
                         " thread ids, in proportion to the package's size";
  return BuildLine(report, files, shown, sentence);
}

void SaveCrashFiles(Bytes package, const CrashReport& report, CrashReportFiles* files) {
  std::string error;
  auto save = [&](const char* name, Bytes bytes) {
    std::string path = files->dir + "/" + name;
    if (WriteWholeFile(path, bytes, &error)) return path;
    if (files->error.empty()) files->error = error;
    return std::string();
  };
  if (package.size > 0) save("package.vgz", package);
  if (!report.package.minidump.empty()) save("minidump.dmp", View(report.package.minidump));
  const MinidumpUserStream* jpeg = FindUserStream(report.minidump, USERSTREAM_SCREENSHOT);
  if (jpeg && jpeg->data.size > 0) files->screenshot = save("screenshot.jpg", jpeg->data);
}

void SaveReportJson(const std::string& line, CrashReportFiles* files) {
  std::string text = line + "\n";
  std::string error;
  if (!WriteWholeFile(files->dir + "/report.json", Bytes{reinterpret_cast<const uint8_t*>(text.data()), text.size()},
                      &error) &&
      files->error.empty()) {
    files->error = error;
  }
}

uint64_t CrashFilesBytes(const CrashReport& report) {
  uint64_t bytes = report.package_bytes + report.package.minidump.size() + kMaxCrashLineBytes;
  if (const MinidumpUserStream* jpeg = FindUserStream(report.minidump, USERSTREAM_SCREENSHOT)) bytes += jpeg->data.size;
  return bytes;
}

}  // namespace collector

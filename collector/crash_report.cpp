#include "crash_report.h"

#include "json_writer.h"
#include "minidump_format.h"
#include "output_files.h"

namespace collector {
namespace {

Bytes View(const std::vector<uint8_t>& v) { return Bytes{v.data(), v.size()}; }

std::string ReportError(const CrashReport& report, const CrashReportFiles& files) {
  if (!report.package.error.empty()) return "package: " + report.package.error;
  if (report.package.minidump.empty()) return "package: no complete chunk";
  if (!report.minidump.error.empty()) return "minidump: " + report.minidump.error;
  return files.error;
}

void UserText(JsonWriter* json, const MinidumpInfo& dump, uint32_t type, const char* key) {
  if (const MinidumpUserStream* stream = FindUserStream(dump, type)) json->Key(key).ByteString(stream->data);
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

}  // namespace

void ReadCrashReport(Bytes package, CrashReport* report) {
  report->package_bytes = package.size;
  report->package = ReadPackage(package);
  report->minidump = ReadMinidump(View(report->package.minidump));
  if (const MinidumpUserStream* jpeg = FindUserStream(report->minidump, USERSTREAM_SCREENSHOT)) {
    JpegSize size;
    if (ReadJpegSize(jpeg->data, &size)) report->screenshot_size = size;
  }
}

std::string CrashReportJson(const CrashReport& report, const CrashReportFiles& files) {
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
  std::string error = ReportError(report, files);
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
    for (uint32_t id : *dump.thread_ids) json.Uint(id);
    json.EndArray();
  }
  if (dump.modules) {
    json.Key("modules").BeginArray();
    for (const std::u16string& name : *dump.modules) json.Utf16String(name);
    json.EndArray();
  }
  if (!dump.stream_types.empty()) {
    json.Key("streams").BeginArray();
    for (uint32_t type : dump.stream_types) json.Uint(type);
    json.EndArray();
  }
  if (dump.dump_type) json.Key("minidump_type").Uint(*dump.dump_type);
  UserText(&json, dump, USERSTREAM_EXTRAINFO, "extra_info");
  UserText(&json, dump, USERSTREAM_USERINFO1, "user_info1");
  UserText(&json, dump, USERSTREAM_USERINFO2, "user_info2");
  UserText(&json, dump, USERSTREAM_USERINFO3, "user_info3");
  Screenshot(&json, report, files);
  json.EndObject();
  return json.str();
}

std::string SaveCrashReport(Bytes package, const std::string& out_dir, unsigned* next_number) {
  CrashReport report;
  ReadCrashReport(package, &report);
  CrashReportFiles files;
  std::string error;
  files.dir = CreateNumberedDirectory(out_dir, "report-", next_number, &error);
  if (files.dir.empty()) {
    files.error = error;
    return CrashReportJson(report, files);
  }
  auto save = [&](const char* name, Bytes bytes) {
    std::string path = files.dir + "/" + name;
    if (WriteWholeFile(path, bytes, &error)) return path;
    if (files.error.empty()) files.error = error;
    return std::string();
  };
  save("package.vgz", package);
  if (!report.package.minidump.empty()) save("minidump.dmp", View(report.package.minidump));
  const MinidumpUserStream* jpeg = FindUserStream(report.minidump, USERSTREAM_SCREENSHOT);
  if (jpeg && jpeg->data.size > 0) files.screenshot = save("screenshot.jpg", jpeg->data);
  std::string line = CrashReportJson(report, files);
  std::string text = line + "\n";
  save("report.json", Bytes{reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  return line;
}

}  // namespace collector

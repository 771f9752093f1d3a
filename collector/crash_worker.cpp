#include "crash_worker.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>

#include "crash_report.h"
#include "json_writer.h"
#include "output_files.h"
#include "reassembly/reassembler.h"
#include "summary_analysis.h"
#include "wire_crash_json.h"

namespace collector {
namespace {

std::optional<std::string> StreamText(const CrashReport& report, uint32_t type) {
  if (!FindUserStream(report.minidump, type)) return std::nullopt;
  Bytes text = UserText(report, type);
  return std::string(reinterpret_cast<const char*>(text.data), text.size);
}

CrashAnalysis Analyze(const CrashReport& report, const AnalysisOptions& options) {
  const std::vector<uint8_t>& dump = report.package.minidump;
  if (dump.empty()) {
    CrashAnalysis nothing;
    nothing.notes.push_back("no minidump arrived: nothing to analyse");
    return nothing;
  }
  try {
    return AnalyzeMinidump(dump.data(), dump.size(), options);
  } catch (const std::exception& e) {  // the analysis promises none; a bad_alloc is still possible
    CrashAnalysis failed;
    failed.notes.push_back(std::string("the analysis failed: ") + e.what());
    return failed;
  }
}

void FillStoredCrash(const CrashReport& report, const CrashReportFiles& files, const std::string& line_error,
                     StoredCrash* c) {
  c->dir = files.dir;
  c->package_bytes = report.package_bytes;
  c->truncated = report.package.truncated;
  c->minidump_bytes = report.package.minidump.size();
  c->minidump_valid = report.minidump.valid;
  c->error = line_error;
  c->cut = report.cut;
  c->extra_info = StreamText(report, USERSTREAM_EXTRAINFO);
  c->user_info1 = StreamText(report, USERSTREAM_USERINFO1);
  c->user_info2 = StreamText(report, USERSTREAM_USERINFO2);
  c->user_info3 = StreamText(report, USERSTREAM_USERINFO3);
  c->screenshot_file = files.screenshot;
  if (report.screenshot_size) {
    c->screenshot_width = report.screenshot_size->width;
    c->screenshot_height = report.screenshot_size->height;
  }
}

}  // namespace

std::string CrashProcessor::ProcessSummary(const CrashJob& job) {
  const reassembly::SummaryEvent& event = *job.summary;
  const CrashSummary& summary = event.summary;
  StoredCrash stored = job.meta;
  stored.source = "summary";
  stored.wire_id = summary.crash_id;
  stored.analysis = AnalysisFromSummary(summary);
  try {
    SymbolizeAnalysis(&stored.analysis, settings_.analysis);
  } catch (const std::exception& e) {  // as for a dump's analysis: a bad_alloc is still possible
    stored.analysis.notes.push_back(std::string("the symbolization failed: ") + e.what());
  }
  SummaryRecord record;
  record.received = job.meta.received;
  record.wire_id = summary.crash_id;
  record.architecture = SummaryArchitectureName(summary.architecture);
  record.thread_id = summary.thread_id;
  record.message.assign(summary.message, strnlen(summary.message, sizeof summary.message));
  record.message_cut = summary.message_cut;
  record.frames_cut = summary.frames_cut;
  stored.summary = std::move(record);
  SummaryStored out;
  out.signature = stored.analysis.signature;
  if (store_ && (!budget_ || !budget_->Spent())) out.crash_id = store_->AddCrash(stored);
  if (out.crash_id > 0 && !settings_.page_base.empty()) {
    out.page = settings_.page_base + "/crash/" + std::to_string(out.crash_id);
  }
  return CrashSummaryJson(event, out);
}

std::string CrashProcessor::Process(const CrashJob& job) {
  if (job.summary) return ProcessSummary(job);
  CrashReport report;
  Bytes bytes{job.bytes.data(), job.bytes.size()};
  if (job.is_minidump) {
    ReadCrashDump(bytes, &report);
  } else {
    size_t bound = job.rebuilt && settings_.max_rebuilt_dump_bytes > 0 ? settings_.max_rebuilt_dump_bytes
                                                                       : settings_.max_dump_bytes;
    ReadCrashReport(bytes, bound, &report);
  }
  CrashReportFiles files;
  if (budget_ && !budget_->Charge(CrashFilesBytes(report))) {
    files.error = "disk budget spent: the report's files were not saved";
  } else {
    std::string error;
    files.dir = CreateNumberedDirectory(settings_.out_dir, "report-", &next_report_, &error);
    if (files.dir.empty()) {
      files.error = error;
    } else {
      SaveCrashFiles(job.is_minidump ? Bytes{} : bytes, report, &files);
    }
  }
  StoredCrash stored = job.meta;
  stored.analysis = Analyze(report, settings_.analysis);
  FillStoredCrash(report, files, CrashReportError(report, files), &stored);
  files.signature = stored.analysis.signature;
  if (job.from_network) {
    stored.whole = job.rebuilt || KeyPackageWhole(report);
    files.whole = stored.whole;
    if (job.rebuilt) files.wire_id = stored.wire_id;
  }
  if (store_ && (!budget_ || !budget_->Spent())) files.crash_id = store_->AddCrash(stored);
  if (files.crash_id > 0 && !settings_.page_base.empty()) {
    files.page = settings_.page_base + "/crash/" + std::to_string(files.crash_id);
  }
  std::string line = CrashReportJson(report, files);
  if (!files.dir.empty()) SaveReportJson(line, &files);
  return line;
}

std::string RefusedCrashReportJson(size_t package_bytes, const std::string& reason, std::optional<bool> whole,
                                   std::optional<uint32_t> wire_id) {
  JsonWriter json;
  json.BeginObject().Key("event").String("crash_report");
  json.Key("package_bytes").Uint(package_bytes).Key("truncated").Bool(false).Key("chunks").Uint(0);
  json.Key("minidump_bytes").Uint(0).Key("minidump_valid").Bool(false);
  json.Key("error").String("not unpacked: " + reason);
  if (whole) json.Key("whole").Bool(*whole);
  if (wire_id) json.Key("wire_id").Uint(*wire_id);
  json.EndObject();
  return json.str();
}

std::string UnstoredSummaryJson(const reassembly::SummaryEvent& event, const std::string& reason) {
  SummaryStored stored;
  stored.error = "not stored: " + reason;
  return CrashSummaryJson(event, stored);
}

CrashWorker::CrashWorker(CrashProcessor* processor, std::function<void(std::string_view)> emit)
    : processor_(processor), emit_(std::move(emit)), thread_([this] { Run(); }) {}

CrashWorker::~CrashWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool CrashWorker::Submit(CrashJob&& job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (jobs_.size() >= kMaxPendingJobs) return false;
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
  return true;
}

void CrashWorker::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void CrashWorker::Run() {
  // Unpacking and analysing yield to the receiving thread, as the store's writer does.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
  pthread_setname_np(pthread_self(), "crash worker");
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, and nothing left
    CrashJob job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    std::string line = processor_->Process(job);
    emit_(line);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace collector

#include "pages/page_server.h"

#include <httplib.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "pages/pages.h"
#include "store/store.h"

namespace collector {
namespace {

constexpr int kTelemetryHours = 24;
constexpr double kSecondsPerHour = 3600;  // the store counts reports per key and hour
// The crash files a page links to, and their types.
struct CrashFile {
  const char* name;
  const char* content_type;
};
constexpr CrashFile kCrashFiles[] = {
    {"screenshot.jpg", "image/jpeg"},
    {"minidump.dmp", "application/octet-stream"},
    {"package.vgz", "application/octet-stream"},
};

void SendHtml(httplib::Response& response, const std::string& html, int status = 200) {
  response.status = status;
  // The pages show players' texts: no script runs on them, even if an escape were ever missed.
  response.set_header("Content-Security-Policy", "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'");
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_content(html, "text/html; charset=utf-8");
}

bool ReadWhole(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

double UnixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::unique_ptr<PageServer> PageServer::Bind(const std::string& address, uint16_t port, const std::string& db_path,
                                             std::string* error) {
  std::unique_ptr<PageServer> pages(new PageServer());
  pages->server_ = std::make_unique<httplib::Server>();
  pages->db_path_ = db_path;
  httplib::Server& server = *pages->server_;
  const std::string db = db_path;
  auto open = [db](httplib::Response& response) {
    std::string problem;
    std::unique_ptr<Store> store = Store::Open(db, true, &problem);
    if (!store) SendHtml(response, NotFoundPage("The store (" + problem + ")"), 500);
    return store;
  };
  server.Get("/", [open](const httplib::Request&, httplib::Response& response) {
    if (auto store = open(response)) SendHtml(response, IndexPage(store->CrashGroups()));
  });
  server.Get(R"(/group/(\d{1,18}))", [open](const httplib::Request& request, httplib::Response& response) {
    auto store = open(response);
    if (!store) return;
    int64_t id = std::stoll(request.matches[1]);
    std::optional<CrashGroupRow> group = store->CrashGroup(id);
    if (!group) return SendHtml(response, NotFoundPage("Crash group " + std::to_string(id)), 404);
    SendHtml(response, GroupPage(*group, store->CrashesInGroup(id)));
  });
  server.Get(R"(/crash/(\d{1,18}))", [open](const httplib::Request& request, httplib::Response& response) {
    auto store = open(response);
    if (!store) return;
    int64_t id = std::stoll(request.matches[1]);
    std::optional<CrashRecord> record = store->Crash(id);
    if (!record) return SendHtml(response, NotFoundPage("Crash " + std::to_string(id)), 404);
    std::optional<std::string> profile;
    if (!record->crash.machine_id.empty()) profile = store->HardwareProfile(record->crash.machine_id);
    SendHtml(response, CrashPage(*record, profile));
  });
  server.Get(R"(/crash/(\d{1,18})/([a-z]+\.[a-z]+))", [open](const httplib::Request& request, httplib::Response& response) {
    const CrashFile* file = nullptr;
    for (const CrashFile& f : kCrashFiles) {
      if (request.matches[2] == f.name) file = &f;
    }
    if (!file) return SendHtml(response, NotFoundPage(std::string("That file")), 404);
    auto store = open(response);
    if (!store) return;
    std::optional<CrashRecord> record = store->Crash(std::stoll(request.matches[1]));
    std::string bytes;
    // The folder is the collector's own (report-<n> under --out), never a name from the network.
    if (!record || record->crash.dir.empty() || !ReadWhole(record->crash.dir + "/" + file->name, &bytes)) {
      return SendHtml(response, NotFoundPage(std::string("That file")), 404);
    }
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_content(bytes, file->content_type);
  });
  server.Get("/telemetry", [open](const httplib::Request&, httplib::Response& response) {
    auto store = open(response);
    if (!store) return;
    double now = UnixNow();
    SendHtml(response, TelemetryPage(store->ReportsPerKey(kTelemetryHours, now), store->LatestValues(), kSecondsPerHour,
                                     kTelemetryHours, now, store->InvalidDatagrams()));
  });
  int bound = port == 0 ? server.bind_to_any_port(address) : (server.bind_to_port(address, port) ? port : -1);
  if (bound <= 0) {
    *error = "cannot serve pages on " + address + ":" + std::to_string(port);
    return nullptr;
  }
  pages->port_ = static_cast<uint16_t>(bound);
  return pages;
}

void PageServer::Start() {
  thread_ = std::thread([this] { server_->listen_after_bind(); });
}

PageServer::~PageServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace collector

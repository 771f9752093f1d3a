// collector: receives the client's UDP datagrams and prints each one decoded, as one JSON object
// per line on standard output; keeps a store of them and of the crashes, and serves pages about
// them. Test programs drive it as the real server, so its command line and its lines are a
// contract (README.md).
//
// Threads: the receiving thread decodes each batch and formats its lines; standard output, the
// store and the crash packages each have a thread of their own behind a bounded queue, so that
// none of them makes the receiver miss datagrams; the pages are served by cpp-httplib's threads.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "crash_worker.h"
#include "ingest.h"
#include "json_writer.h"
#include "line_output.h"
#include "options.h"
#include "output_files.h"
#include "pages/page_server.h"
#include "receiver.h"
#include "session.h"
#include "store/store_writer.h"

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "collector: %s\n", what.c_str());
  return 2;
}

std::string ListeningLine(const char* event, const std::string& address, uint16_t port) {
  collector::JsonWriter json;
  json.BeginObject().Key("event").String(event);
  json.Key("address").String(address).Key("port").Uint(port).EndObject();
  return json.str() + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace collector;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(OptionsHelp().c_str(), stdout);
      return 0;
    }
  }
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "collector: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (!options.ingest_file.empty()) return RunIngest(options);
  if (!MakeDirectories(options.out_dir, &error)) return Fail("cannot make the output folder: " + error);
  uint16_t port = 0;
  int fd = OpenUdpSocket(options.listen_address, options.listen_port, &port);
  if (fd < 0) {
    return Fail("cannot listen on " + options.listen_address + ":" + std::to_string(options.listen_port) + ": " +
                std::strerror(errno));
  }
  DiskBudget budget(options.limits.disk_budget_bytes);
  std::unique_ptr<Store> crash_store;
  std::unique_ptr<Store> report_store;
  if (!options.no_store) {
    report_store = Store::Open(options.db_path, false, &error);
    if (report_store) crash_store = Store::Open(options.db_path, false, &error);
    if (!crash_store) return Fail("cannot open the store: " + error);
    budget.SetStoreBytes(report_store->DiskBytes());
  }
  budget.CountExisting(options.out_dir, options.db_path);
  std::unique_ptr<PageServer> pages;
  if (options.http) {
    if (options.no_store) return Fail("--http needs the store");
    pages = PageServer::Bind(options.http_address, options.http_port, options.db_path, &error);
    if (!pages) return Fail(error);
  }
  // Before any thread starts, so that every thread inherits the mask and the receiver alone takes
  // the signals, in its wait.
  CatchStopSignals();
  signal(SIGPIPE, SIG_IGN);  // a reader that went away ends the lines, not the store or the pages

  LineOutput output(STDOUT_FILENO);
  output.Append(ListeningLine("listening", options.listen_address, port));
  if (pages) {
    output.Append(ListeningLine("http", options.http_address, pages->port()));
    pages->Start();
  }
  CrashSettings settings;
  settings.out_dir = AbsolutePath(options.out_dir);
  settings.max_dump_bytes = options.limits.max_dump_bytes;
  settings.max_rebuilt_dump_bytes = options.limits.max_rebuilt_dump_bytes;
  settings.analysis.symbols_dir = options.symbols_dir;
  settings.analysis.symbolizer = options.symbolizer;
  if (pages) settings.page_base = "http://" + options.http_address + ":" + std::to_string(pages->port());
  CrashProcessor processor(settings, crash_store.get(), &budget);
  CrashWorker crashes(&processor, [&output](std::string_view line) {
    std::string text(line);
    output.Append(text + "\n");
  });
  std::unique_ptr<StoreWriter> writer;
  if (report_store) writer = std::make_unique<StoreWriter>(std::move(report_store), &budget);

  // The batch's lines leave together after the batch; a crash job first pushes out the lines
  // before it, so that a crash_report line never overtakes its datagram's line.
  std::string batch_lines;
  std::vector<StoredReport> batch_rows;
  auto flush_batch = [&] {
    if (!batch_lines.empty()) output.Append(batch_lines);
    batch_lines.clear();
    if (writer && !batch_rows.empty()) writer->Add(&batch_rows);
  };
  SessionOutputs outputs;
  outputs.emit = [&batch_lines](std::string_view line) {
    batch_lines.append(line);
    batch_lines += '\n';
  };
  if (writer) outputs.store = [&batch_rows](StoredReport&& row) { batch_rows.push_back(std::move(row)); };
  outputs.crash = [&](CrashJob&& job) {
    flush_batch();
    return crashes.Submit(std::move(job));
  };
  Session session(settings.out_dir, options.raw, options.limits, &budget, std::move(outputs));
  ReceiveLimits limits{options.exit_after, options.idle_timeout};
  ReceiveCounts counts = ReceiveLoop(fd, limits, &session, flush_batch);
  close(fd);
  // Packages still being put together are reported lost, before the workers finish.
  session.Flush();
  flush_batch();

  crashes.Drain();
  if (writer) writer->Drain();
  output.Flush();
  if (counts.kernel_drops > 0 || (writer && writer->dropped() > 0)) {
    std::fprintf(stderr, "collector: %llu datagrams dropped by the kernel for want of buffer, %llu not stored\n",
                 static_cast<unsigned long long>(counts.kernel_drops),
                 static_cast<unsigned long long>(writer ? writer->dropped() : 0));
  }
  return 0;
}

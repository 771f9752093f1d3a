#include "options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <cmath>

namespace collector {

const char kUsage[] =
    "usage: collector [--listen ADDR:PORT] [--out DIR] [--raw] [--exit-after N] [--idle-timeout SECONDS]\n"
    "                 [--db FILE | --no-store] [--http [ADDR:]PORT] [--symbols DIR] [--symbolizer PATH]\n"
    "                 [--max-dump-mib N] [--disk-budget-mib N] [--sender-crashes-per-minute N]\n"
    "                 [--sender-mib-per-minute N]\n"
    "       collector --ingest FILE [--machine ID] [--out DIR] [--db FILE] [--symbols DIR] [--http ADDR:PORT]\n";

namespace {

// "ADDR:PORT", and with `port_only_allowed` a bare "PORT" on loopback.
bool ParseAddress(const std::string& text, bool port_only_allowed, std::string* address, uint16_t* port) {
  size_t colon = text.rfind(':');
  std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  std::string number = colon == std::string::npos ? text : text.substr(colon + 1);
  if (colon == std::string::npos && !port_only_allowed) return false;
  in_addr parsed;
  if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
  if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long value = std::stoul(number);
  if (value > 65535) return false;
  *address = host;
  *port = static_cast<uint16_t>(value);
  return true;
}

bool IsMachineId(const std::string& text) {
  return text.size() == 16 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

struct Raw {
  std::string listen, http;
  double max_dump_mib = 0;
  double disk_budget_mib = 0;
};

void Describe(CLI::App* app, Options* o, Raw* raw) {
  const auto positive = CLI::Validator(
      [](std::string& text) -> std::string {
        double value = 0;
        try {
          size_t used = 0;
          value = std::stod(text, &used);
          if (used != text.size()) return "not a number: " + text;
        } catch (const std::exception&) {
          return "not a number: " + text;
        }
        return std::isfinite(value) && value > 0 ? "" : "must be a positive number: " + text;
      },
      "POSITIVE");
  const auto count = CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19 ||
            std::stoull(text) == 0) {
          return "must be a whole number above 0: " + text;
        }
        return "";
      },
      "COUNT");
  const auto not_empty = CLI::Validator([](std::string& text) { return text.empty() ? "must not be empty" : ""; }, "");
  app->add_option("--listen", raw->listen, "IPv4 address and port to receive on (default 127.0.0.1:12345)");
  app->add_option("--out", o->out_dir, "folder for blobs and crash reports (default ./collected)")->check(not_empty);
  app->add_flag("--raw", o->raw, "add the whole datagram in hex to every line");
  app->add_option("--exit-after", o->exit_after, "end after N datagrams")->check(count);
  app->add_option("--idle-timeout", o->idle_timeout, "end after SECONDS without a datagram")->check(positive);
  app->add_option("--db", o->db_path, "the store (default collector.db inside --out)")->check(not_empty);
  app->add_flag("--no-store", o->no_store, "keep no store: lines and files only");
  app->add_option("--http", raw->http, "serve the crash and telemetry pages on [ADDR:]PORT (loopback by default)");
  app->add_option("--symbols", o->symbols_dir, "folder of the game's PE files with their debug information");
  app->add_option("--symbolizer", o->symbolizer, "the llvm-symbolizer to run (default from PATH)")->check(not_empty);
  app->add_option("--max-dump-mib", raw->max_dump_mib,
                  "largest minidump a package may inflate to (default 8 for key 17's one datagram, "
                  "64 for a package rebuilt from its parts, 256 with --ingest)")
      ->check(positive);
  app->add_option("--disk-budget-mib", raw->disk_budget_mib, "disk the files and the store may fill (default 4096)")
      ->check(positive);
  app->add_option("--sender-crashes-per-minute", o->limits.sender.crash_packages_per_minute,
                  "crash packages one address may have unpacked per minute (default 12, 16 at once)")
      ->check(positive);
  app->add_option("--sender-mib-per-minute", o->limits.sender.saved_bytes_per_minute,
                  "MiB of blobs one address may have saved per minute (default 64, 64 at once)")
      ->check(positive);
  app->add_option("--ingest", o->ingest_file, "add a TempDump.vgz or TempDump.dmp to the store and end")
      ->check(not_empty);
  app->add_option("--machine", o->ingest_machine, "with --ingest: the player's machine identifier (16 hex digits)");
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
  CLI::App app("collector");
  Raw raw;
  Describe(&app, options, &raw);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    return false;
  }
  if (!raw.listen.empty() && !ParseAddress(raw.listen, false, &options->listen_address, &options->listen_port)) {
    *error = "bad value for --listen: " + raw.listen;
    return false;
  }
  if (app.count("--http") && !ParseAddress(raw.http, true, &options->http_address, &options->http_port)) {
    *error = "bad value for --http: " + raw.http;
    return false;
  }
  options->http = app.count("--http") > 0;
  if (!options->ingest_machine.empty() && !IsMachineId(options->ingest_machine)) {
    *error = "bad value for --machine: 16 upper-case hex digits, as the client sends them";
    return false;
  }
  if (!options->ingest_machine.empty() && options->ingest_file.empty()) {
    *error = "--machine goes with --ingest";
    return false;
  }
  if (options->no_store && (app.count("--db") || !options->ingest_file.empty())) {
    *error = "--no-store leaves nothing for --db or --ingest";
    return false;
  }
  bool ingest = !options->ingest_file.empty();
  options->limits.max_dump_bytes = raw.max_dump_mib > 0 ? static_cast<size_t>(raw.max_dump_mib * kMiB)
                                   : ingest            ? kDefaultIngestDumpBytes
                                                       : kDefaultNetworkDumpBytes;
  options->limits.max_rebuilt_dump_bytes =
      raw.max_dump_mib > 0 ? options->limits.max_dump_bytes : kDefaultRebuiltDumpBytes;
  if (raw.disk_budget_mib > 0) options->limits.disk_budget_bytes = static_cast<uint64_t>(raw.disk_budget_mib * kMiB);
  if (options->db_path.empty()) options->db_path = options->out_dir + "/collector.db";
  return true;
}

std::string OptionsHelp() {
  CLI::App app("collector: receives the client's datagrams, prints each as a JSON line, keeps a store of them "
               "and of the crashes, and serves pages about them");
  Options options;
  Raw raw;
  Describe(&app, &options, &raw);
  return app.help();
}

}  // namespace collector

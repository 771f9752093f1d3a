#include "ingest.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "crash_worker.h"
#include "output_files.h"
#include "store/store.h"

namespace collector {
namespace {

const uint8_t kPackageMagic[4] = {'V', 'G', 'Z', 0};
const uint8_t kMinidumpMagic[4] = {'M', 'D', 'M', 'P'};

bool ReadFileBounded(const std::string& path, size_t max_bytes, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uint64_t>(size) > max_bytes) {
    *error = path + ": larger than --max-dump-mib allows";
    return false;
  }
  in.seekg(0);
  out->resize(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(out->data()), size)) {
    *error = path + ": cannot be read";
    return false;
  }
  return true;
}

}  // namespace

int RunIngest(const Options& options) {
  CrashJob job;
  std::string error;
  if (!ReadFileBounded(options.ingest_file, options.limits.max_dump_bytes, &job.bytes, &error)) {
    std::fprintf(stderr, "collector: %s\n", error.c_str());
    return 2;
  }
  if (job.bytes.size() >= 4 && std::memcmp(job.bytes.data(), kMinidumpMagic, 4) == 0) {
    job.is_minidump = true;
  } else if (job.bytes.size() < 4 || std::memcmp(job.bytes.data(), kPackageMagic, 4) != 0) {
    std::fprintf(stderr, "collector: %s is neither a dump package (VGZ) nor a minidump (MDMP)\n",
                 options.ingest_file.c_str());
    return 2;
  }
  if (!MakeDirectories(options.out_dir, &error)) {
    std::fprintf(stderr, "collector: cannot make the output folder: %s\n", error.c_str());
    return 2;
  }
  std::unique_ptr<Store> store = Store::Open(options.db_path, false, &error);
  if (!store) {
    std::fprintf(stderr, "collector: cannot open the store: %s\n", error.c_str());
    return 2;
  }
  job.meta.received = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  job.meta.source = "ingest";
  job.meta.machine_id = options.ingest_machine;
  CrashSettings settings;
  settings.out_dir = AbsolutePath(options.out_dir);
  settings.max_dump_bytes = options.limits.max_dump_bytes;
  settings.analysis.symbols_dir = options.symbols_dir;
  settings.analysis.symbolizer = options.symbolizer;
  if (options.http) settings.page_base = "http://" + options.http_address + ":" + std::to_string(options.http_port);
  DiskBudget budget(options.limits.disk_budget_bytes);
  budget.CountExisting(options.out_dir, options.db_path);
  budget.SetStoreBytes(store->DiskBytes());
  CrashProcessor processor(settings, store.get(), &budget);
  std::string line = processor.Process(job);
  std::printf("%s\n", line.c_str());
  return line.find("\"crash_id\":") != std::string::npos ? 0 : 2;
}

}  // namespace collector

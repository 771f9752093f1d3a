#include "store/store.h"

#include <sys/stat.h>

#include "store/store_schema.h"

namespace collector {
namespace {

uint64_t FileBytes(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool CheckVersion(sqlite3* db, std::string* error) {
  Statement read(db, "SELECT version FROM store_version");
  if (!read.Row()) {
    Statement write(db, "INSERT INTO store_version (version) VALUES (?)");
    return write.Bind(1, kStoreVersion).Run();
  }
  if (read.Int(0) == kStoreVersion) return true;
  *error = "the store has version " + std::to_string(read.Int(0)) + "; this collector reads version " +
           std::to_string(kStoreVersion);
  return false;
}

}  // namespace

std::unique_ptr<Store> Store::Open(const std::string& path, bool read_only, std::string* error) {
  sqlite3* raw = nullptr;
  int flags = read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  int status = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteDb db(raw);
  if (status != SQLITE_OK) {
    *error = path + ": " + (raw ? sqlite3_errmsg(raw) : "cannot open");
    return nullptr;
  }
  // The receiver's writer, the crash worker and the pages each hold a connection: the write-ahead
  // log lets the pages read while a batch is written, and a writer waits for the other's commit.
  sqlite3_busy_timeout(db.get(), 10000);
  if (!read_only) {
    // NORMAL: a power cut may lose the last commits but never corrupts the file; the datagrams
    // were printed on standard output all the same.
    if (!Execute(db.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error) ||
        !Execute(db.get(), kStoreSchema, error) || !CheckVersion(db.get(), error)) {
      *error = path + ": " + *error;
      return nullptr;
    }
  }
  Execute(db.get(), "PRAGMA cache_size=-16384;", nullptr);  // 16 MiB of pages per connection
  return std::unique_ptr<Store>(new Store(std::move(db), path));
}

uint64_t Store::DiskBytes() const { return FileBytes(path_) + FileBytes(path_ + "-wal"); }

}  // namespace collector

// The collector's store: an embedded SQLite database of every decoded datagram, every crash with
// its analysis, and the crash groups (collector/STORE.md describes the tables). One Store object is
// one connection; the receiver's writer, the crash worker and each page request use their own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/sqlite_handle.h"
#include "store/store_records.h"

namespace collector {

class Store {
 public:
  // Opens (and, writable, creates or upgrades) the database. Null and why on failure.
  static std::unique_ptr<Store> Open(const std::string& path, bool read_only, std::string* error);

  // One transaction for the whole batch, with the counts per key and hour and each key's latest
  // report brought up to date.
  bool AddReports(const std::vector<std::vector<StoredReport>>& batches);
  bool AddReports(const std::vector<StoredReport>& rows) { return AddReports(std::vector<std::vector<StoredReport>>{rows}); }
  // Adds the crash to the group of its grouping key; returns its id, 0 on failure.
  int64_t AddCrash(const StoredCrash& crash);

  std::vector<CrashGroupRow> CrashGroups();
  std::optional<CrashGroupRow> CrashGroup(int64_t id);
  std::vector<CrashListRow> CrashesInGroup(int64_t group_id);
  std::optional<CrashRecord> Crash(int64_t id);
  // The latest hardware profile (key 18 text) the machine sent, if any.
  std::optional<std::string> HardwareProfile(const std::string& machine_id);
  // Reports per key and hour, the latest `hours` of them up to `now`.
  std::vector<KeyActivity> ReportsPerKey(int hours, double now);
  std::vector<LatestValue> LatestValues();
  int64_t InvalidDatagrams();

  // Bytes the database takes on disk, its write-ahead log included.
  uint64_t DiskBytes() const;
  const std::string& path() const { return path_; }
  sqlite3* db() { return db_.get(); }

 private:
  Store(SqliteDb db, std::string path) : db_(std::move(db)), path_(std::move(path)) {}
  SqliteDb db_;
  std::string path_;
};

}  // namespace collector

#include <cstdio>

#include "store/crash_grouping.h"
#include "store/store.h"

namespace collector {
namespace {

const char* KindName(uint32_t kind) {
  switch (kind) {
    case KIND_NUMBERS: return "number";
    case KIND_TEXT: return "text";
    default: return "blob";
  }
}

std::string Hash(uint64_t value) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(value));
  return hex;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += (joined.empty() ? "" : "\n") + line;
  return joined;
}

// The columns every report row shares; the record's own follow from column 11 on.
void BindHeader(Statement* insert, const StoredDatagram& d, uint32_t wire_key) {
  insert->BindDouble(1, d.received).Bind(2, d.sender).BindText(3, d.machine_id);
  insert->Bind(4, d.identity1).Bind(5, d.identity3).Bind(6, d.identity4).BindText(7, KindName(d.kind));
  insert->Bind(8, wire_key).Bind(9, WireScope(wire_key)).Bind(10, WireKeyLow(wire_key));
}

class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { ok_ = Execute(db_, "BEGIN IMMEDIATE", nullptr); }
  ~Transaction() {
    if (ok_ && !committed_) Execute(db_, "ROLLBACK", nullptr);
  }
  bool ok() const { return ok_; }
  bool Commit() { return committed_ = ok_ && Execute(db_, "COMMIT", nullptr); }

 private:
  sqlite3* db_;
  bool ok_ = false;
  bool committed_ = false;
};

void BindOptionalBlob(Statement* s, int index, const std::optional<std::string>& bytes) {
  if (bytes) {
    s->BindBlob(index, *bytes);
  } else {
    s->BindNull(index);
  }
}

int64_t GroupFor(sqlite3* db, const std::string& key, double received) {
  Statement upsert(db,
                   "INSERT INTO crash_groups (signature, first_seen, last_seen, crashes) VALUES (?1, ?2, ?2, 1) "
                   "ON CONFLICT (signature) DO UPDATE SET crashes = crashes + 1, "
                   "first_seen = min(first_seen, ?2), last_seen = max(last_seen, ?2)");
  if (!upsert.BindText(1, key).BindDouble(2, received).Run()) return 0;
  Statement id(db, "SELECT id FROM crash_groups WHERE signature = ?");
  return id.BindText(1, key).Row() ? id.Int(0) : 0;
}

bool AddAnalysisRows(sqlite3* db, int64_t crash_id, const CrashAnalysis& analysis) {
  Statement module(db, "INSERT INTO crash_modules VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (size_t i = 0; i < analysis.modules.size(); ++i) {
    const AnalyzedModule& m = analysis.modules[i];
    module.Bind(1, crash_id).Bind(2, static_cast<int64_t>(i)).BindText(3, m.path).BindText(4, m.name);
    module.Bind(5, static_cast<int64_t>(m.base)).Bind(6, static_cast<int64_t>(m.size)).Bind(7, m.time_stamp);
    module.BindText(8, m.debug_file).BindText(9, m.debug_id).Bind(10, m.system).Bind(11, m.ours);
    if (!module.Bind(12, m.symbols_found).Run()) return false;
  }
  Statement thread(db, "INSERT INTO crash_threads VALUES (?, ?, ?, ?)");
  Statement frame(db, "INSERT INTO crash_frames VALUES (?, ?, ?, ?, ?, ?, ?)");
  Statement symbol(db, "INSERT INTO crash_frame_symbols VALUES (?, ?, ?, ?, ?, ?, ?)");
  for (size_t t = 0; t < analysis.threads.size(); ++t) {
    const AnalyzedThread& th = analysis.threads[t];
    if (!thread.Bind(1, crash_id).Bind(2, static_cast<int64_t>(t)).Bind(3, th.thread_id).Bind(4, th.crashed).Run()) {
      return false;
    }
    for (size_t f = 0; f < th.frames.size(); ++f) {
      const AnalyzedFrame& fr = th.frames[f];
      frame.Bind(1, crash_id).Bind(2, static_cast<int64_t>(t)).Bind(3, static_cast<int64_t>(f));
      frame.Bind(4, static_cast<int64_t>(fr.instruction)).Bind(5, fr.module);
      if (!frame.Bind(6, static_cast<int64_t>(fr.module_offset)).BindText(7, FrameTrustName(fr.trust)).Run()) {
        return false;
      }
      for (size_t d = 0; d < fr.symbols.size(); ++d) {
        const SourceLocation& s = fr.symbols[d];
        symbol.Bind(1, crash_id).Bind(2, static_cast<int64_t>(t)).Bind(3, static_cast<int64_t>(f));
        symbol.Bind(4, static_cast<int64_t>(d)).BindText(5, s.function).BindText(6, s.file);
        if (!symbol.Bind(7, s.line).Run()) return false;
      }
    }
  }
  return true;
}

}  // namespace

bool Store::AddDatagrams(const std::vector<StoredDatagram>& batch) {
  Transaction transaction(db_.get());
  if (!transaction.ok()) return false;
  Statement number(db_.get(), "INSERT INTO reports (received, sender, machine_id, identity1, identity3, identity4, "
                              "kind, wire_key, scope, key, value) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement text(db_.get(), "INSERT INTO reports (received, sender, machine_id, identity1, identity3, identity4, "
                            "kind, wire_key, scope, key, text) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement blob(db_.get(), "INSERT INTO reports (received, sender, machine_id, identity1, identity3, identity4, "
                            "kind, wire_key, scope, key, blob_length, blob_fnv1a64, blob_file) "
                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement invalid(db_.get(), "INSERT INTO invalid_datagrams (received, sender, size, reason) VALUES (?, ?, ?, ?)");
  for (const StoredDatagram& d : batch) {
    bool ok = true;
    if (d.invalid_reason) {
      ok = invalid.BindDouble(1, d.received).Bind(2, d.sender).Bind(3, d.size).BindText(4, d.invalid_reason).Run();
    } else if (d.kind == KIND_NUMBERS) {
      for (const NumberRecord& record : d.numbers) {
        BindHeader(&number, d, record.wire_key);
        ok = ok && number.Bind(11, record.value).Run();
      }
    } else if (d.kind == KIND_TEXT) {
      BindHeader(&text, d, d.data_key);
      ok = text.BindBlob(11, d.text).Run();
    } else {
      BindHeader(&blob, d, d.data_key);
      blob.Bind(11, d.blob_length).BindText(12, Hash(d.blob_fnv1a64));
      if (d.blob_file.empty()) {
        blob.BindNull(13);
      } else {
        blob.BindText(13, d.blob_file);
      }
      ok = blob.Run();
    }
    if (!ok) return false;
  }
  return transaction.Commit();
}

int64_t Store::AddCrash(const StoredCrash& c) {
  Transaction transaction(db_.get());
  if (!transaction.ok()) return 0;
  int64_t group = GroupFor(db_.get(), GroupingKey(c.analysis), c.received);
  if (group == 0) return 0;
  Statement insert(db_.get(),
                   "INSERT INTO crashes (group_id, received, source, sender, machine_id, identity1, identity3, "
                   "identity4, dir, package_bytes, truncated, minidump_bytes, minidump_valid, error, cut, cpu, "
                   "has_exception, exception_code, exception_name, exception_address, crashed_thread_id, signature, "
                   "notes, extra_info, user_info1, user_info2, user_info3, screenshot_file, screenshot_width, "
                   "screenshot_height) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                   "?, ?, ?, ?, ?, ?, ?)");
  const CrashAnalysis& a = c.analysis;
  insert.Bind(1, group).BindDouble(2, c.received).BindText(3, c.source).Bind(4, c.sender).BindText(5, c.machine_id);
  if (c.identities) {
    insert.Bind(6, c.identities->identity1).Bind(7, c.identities->identity3).Bind(8, c.identities->identity4);
  } else {
    insert.BindNull(6).BindNull(7).BindNull(8);
  }
  insert.BindText(9, c.dir).Bind(10, static_cast<int64_t>(c.package_bytes)).Bind(11, c.truncated);
  insert.Bind(12, static_cast<int64_t>(c.minidump_bytes)).Bind(13, c.minidump_valid).BindText(14, c.error);
  insert.BindText(15, JoinLines(c.cut)).BindText(16, a.cpu).Bind(17, a.has_exception).Bind(18, a.exception_code);
  insert.BindText(19, a.exception_name).Bind(20, static_cast<int64_t>(a.exception_address));
  insert.Bind(21, a.crashed_thread_id).BindText(22, a.signature).BindText(23, JoinLines(a.notes));
  BindOptionalBlob(&insert, 24, c.extra_info);
  BindOptionalBlob(&insert, 25, c.user_info1);
  BindOptionalBlob(&insert, 26, c.user_info2);
  BindOptionalBlob(&insert, 27, c.user_info3);
  insert.BindText(28, c.screenshot_file).Bind(29, c.screenshot_width).Bind(30, c.screenshot_height);
  if (!insert.Run()) return 0;
  int64_t id = sqlite3_last_insert_rowid(db_.get());
  if (!AddAnalysisRows(db_.get(), id, a) || !transaction.Commit()) return 0;
  return id;
}

}  // namespace collector

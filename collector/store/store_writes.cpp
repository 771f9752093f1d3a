#include <cstdio>
#include <map>

#include "store/crash_grouping.h"
#include "store/store.h"

namespace collector {
namespace {

const char* KindName(uint32_t kind) {
  switch (kind) {
    case KIND_NUMBERS:
      return "number";
    case KIND_TEXT:
      return "text";
    default:
      return "blob";
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

constexpr int64_t kSecondsPerHour = 3600;

// The columns every report row shares; the record's own follow from column 11 on.
void BindHeader(Statement* insert, const StoredReport& r) {
  insert->BindDouble(1, r.received).Bind(2, r.sender).BindText(3, r.machine_id);
  insert->Bind(4, r.identity1).Bind(5, r.identity3).Bind(6, r.identity4).BindText(7, KindName(r.kind));
  insert->Bind(8, r.wire_key).Bind(9, WireScope(r.wire_key)).Bind(10, WireKeyLow(r.wire_key));
}

// What a batch adds to the per-key tables, gathered in memory so that each key costs one update
// per batch rather than one per row.
struct KeyTotals {
  std::map<std::pair<uint32_t, int64_t>, int64_t> per_hour;
  std::map<uint32_t, std::pair<int64_t, int64_t>> latest;  // key: the latest row's id, rows added

  void Add(uint32_t key, double received, int64_t id) {
    ++per_hour[{key, static_cast<int64_t>(received) / kSecondsPerHour * kSecondsPerHour}];
    auto& entry = latest[key];
    entry.first = id;
    ++entry.second;
  }

  bool Write(sqlite3* db) const {
    Statement hour(db,
                   "INSERT INTO key_activity (key, hour, reports) VALUES (?1, ?2, ?3) "
                   "ON CONFLICT (key, hour) DO UPDATE SET reports = reports + ?3");
    for (const auto& entry : per_hour) {
      if (!hour.Bind(1, entry.first.first).Bind(2, entry.first.second).Bind(3, entry.second).Run()) return false;
    }
    Statement key(db,
                  "INSERT INTO key_latest (key, report_id, reports) VALUES (?1, ?2, ?3) "
                  "ON CONFLICT (key) DO UPDATE SET report_id = ?2, reports = reports + ?3");
    for (const auto& entry : latest) {
      if (!key.Bind(1, entry.first).Bind(2, entry.second.first).Bind(3, entry.second.second).Run()) return false;
    }
    return true;
  }
};

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

// The crashes table's columns but its id, in the order BindCrash binds them.
constexpr char kCrashColumns[] =
    "group_id, received, source, sender, machine_id, identity1, identity3, identity4, dir, package_bytes, truncated, "
    "minidump_bytes, minidump_valid, error, cut, cpu, has_exception, exception_code, exception_name, "
    "exception_address, crashed_thread_id, signature, notes, extra_info, user_info1, user_info2, user_info3, "
    "screenshot_file, screenshot_width, screenshot_height";

// `cut` and `notes` are bound, not copied: they must outlive the statement's step.
void BindCrash(Statement* s, int64_t group, const StoredCrash& c, const std::string& cut, const std::string& notes) {
  const CrashAnalysis& a = c.analysis;
  s->Bind(1, group).BindDouble(2, c.received).BindText(3, c.source).Bind(4, c.sender).BindText(5, c.machine_id);
  if (c.identities) {
    s->Bind(6, c.identities->identity1).Bind(7, c.identities->identity3).Bind(8, c.identities->identity4);
  } else {
    s->BindNull(6).BindNull(7).BindNull(8);
  }
  s->BindText(9, c.dir).Bind(10, static_cast<int64_t>(c.package_bytes)).Bind(11, c.truncated);
  s->Bind(12, static_cast<int64_t>(c.minidump_bytes)).Bind(13, c.minidump_valid).BindText(14, c.error);
  s->BindText(15, cut).BindText(16, a.cpu).Bind(17, a.has_exception).Bind(18, a.exception_code);
  s->BindText(19, a.exception_name).Bind(20, static_cast<int64_t>(a.exception_address));
  s->Bind(21, a.crashed_thread_id).BindText(22, a.signature).BindText(23, notes);
  BindOptionalBlob(s, 24, c.extra_info);
  BindOptionalBlob(s, 25, c.user_info1);
  BindOptionalBlob(s, 26, c.user_info2);
  BindOptionalBlob(s, 27, c.user_info3);
  s->BindText(28, c.screenshot_file).Bind(29, c.screenshot_width).Bind(30, c.screenshot_height);
}

// How much of a crash a report holds: a summary or a package cut in transit tell less than a
// whole package. Of two reports of one crash, the store keeps the analysis of the one that holds
// more, and of two alike, the first.
int Evidence(const StoredCrash& c) { return !c.summary && c.whole ? 2 : 1; }

bool AddSummaryRow(sqlite3* db, int64_t crash_id, const SummaryRecord& s) {
  // A summary repeated after the collector forgot it keeps the first one's row.
  Statement insert(db, "INSERT OR IGNORE INTO crash_summaries (crash_id, received, wire_id, architecture, thread_id, "
                       "message, message_cut, frames_cut) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, crash_id).BindDouble(2, s.received).Bind(3, s.wire_id).BindText(4, s.architecture);
  insert.Bind(5, s.thread_id).BindBlob(6, s.message).Bind(7, s.message_cut).Bind(8, s.frames_cut);
  return insert.Run();
}

// Gives crash `id` the analysis and files of `c`, moving it to the group of its new signature.
bool ReplaceCrash(sqlite3* db, int64_t id, const StoredCrash& c) {
  Statement old(db, "SELECT group_id FROM crashes WHERE id = ?");
  if (!old.Bind(1, id).Row()) return false;
  const int64_t old_group = old.Int(0);
  const int64_t group = GroupFor(db, GroupingKey(c.analysis), c.received);
  if (group == 0) return false;
  Statement update(db, (std::string("UPDATE crashes SET (") + kCrashColumns +
                        ") = (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, "
                        "?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29, ?30) WHERE id = ?31")
                           .c_str());
  const std::string cut = JoinLines(c.cut), notes = JoinLines(c.analysis.notes);
  BindCrash(&update, group, c, cut, notes);
  if (!update.Bind(31, id).Run()) return false;
  Statement leave(db, "UPDATE crash_groups SET crashes = crashes - 1 WHERE id = ?");
  Statement empty(db, "DELETE FROM crash_groups WHERE id = ? AND crashes <= 0");
  if (!leave.Bind(1, old_group).Run() || !empty.Bind(1, old_group).Run()) return false;
  for (const char* table : {"crash_modules", "crash_threads", "crash_frames", "crash_frame_symbols"}) {
    Statement forget(db, (std::string("DELETE FROM ") + table + " WHERE crash_id = ?").c_str());
    if (!forget.Bind(1, id).Run()) return false;
  }
  return AddAnalysisRows(db, id, c.analysis);
}

}  // namespace

bool Store::AddReports(const std::vector<std::vector<StoredReport>>& batches) {
  Transaction transaction(db_.get());
  if (!transaction.ok()) return false;
  Statement number(db_.get(),
                   "INSERT INTO reports (received, sender, machine_id, identity1, identity3, identity4, "
                   "kind, wire_key, scope, key, value) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement text(db_.get(),
                 "INSERT INTO reports (received, sender, machine_id, identity1, identity3, identity4, "
                 "kind, wire_key, scope, key, text) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement blob(db_.get(),
                 "INSERT INTO reports (received, sender, machine_id, identity1, identity3, identity4, "
                 "kind, wire_key, scope, key, blob_length, blob_fnv1a64, blob_file) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement invalid(db_.get(), "INSERT INTO invalid_datagrams (received, sender, size, reason) VALUES (?, ?, ?, ?)");
  KeyTotals totals;
  for (const std::vector<StoredReport>& batch : batches) {
    for (const StoredReport& r : batch) {
      bool ok;
      if (r.invalid_reason) {
        ok = invalid.BindDouble(1, r.received).Bind(2, r.sender).Bind(3, r.size).BindText(4, r.invalid_reason).Run();
        if (!ok) return false;
        continue;
      }
      if (r.kind == KIND_NUMBERS) {
        BindHeader(&number, r);
        ok = number.Bind(11, r.value).Run();
      } else if (r.kind == KIND_TEXT) {
        BindHeader(&text, r);
        ok = text.BindBlob(11, r.text).Run();
      } else {
        BindHeader(&blob, r);
        std::string hash = Hash(r.blob_fnv1a64);  // bound, not copied: it must outlive the step
        blob.Bind(11, r.blob_length).BindText(12, hash);
        if (r.blob_file.empty()) {
          blob.BindNull(13);
        } else {
          blob.BindText(13, r.blob_file);
        }
        ok = blob.Run();
      }
      if (!ok) return false;
      totals.Add(WireKeyLow(r.wire_key), r.received, sqlite3_last_insert_rowid(db_.get()));
    }
  }
  return totals.Write(db_.get()) && transaction.Commit();
}

int64_t Store::AddCrash(const StoredCrash& c) {
  Transaction transaction(db_.get());
  if (!transaction.ok()) return 0;
  const int evidence = Evidence(c);
  if (c.wire_id && !c.machine_id.empty()) {
    Statement find(db_.get(), "SELECT crash_id, evidence FROM crash_wire WHERE machine_id = ? AND wire_id = ?");
    if (find.BindText(1, c.machine_id).Bind(2, *c.wire_id).Row()) {
      // Another report of a crash already stored: it joins that crash, and its analysis replaces the
      // stored one only when more of the crash arrived with it.
      const int64_t id = find.Int(0);
      const int had = static_cast<int>(find.Int(1));
      if (c.summary && !AddSummaryRow(db_.get(), id, *c.summary)) return 0;
      if (evidence > had) {
        Statement raise(db_.get(), "UPDATE crash_wire SET evidence = ? WHERE machine_id = ? AND wire_id = ?");
        if (!ReplaceCrash(db_.get(), id, c) ||
            !raise.Bind(1, evidence).BindText(2, c.machine_id).Bind(3, *c.wire_id).Run()) {
          return 0;
        }
      }
      return transaction.Commit() ? id : 0;
    }
  }
  int64_t group = GroupFor(db_.get(), GroupingKey(c.analysis), c.received);
  if (group == 0) return 0;
  Statement insert(db_.get(), (std::string("INSERT INTO crashes (") + kCrashColumns +
                               ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                               "?, ?, ?)")
                                  .c_str());
  const std::string cut = JoinLines(c.cut), notes = JoinLines(c.analysis.notes);  // bound, not copied
  BindCrash(&insert, group, c, cut, notes);
  if (!insert.Run()) return 0;
  int64_t id = sqlite3_last_insert_rowid(db_.get());
  if (!AddAnalysisRows(db_.get(), id, c.analysis)) return 0;
  if (c.wire_id && !c.machine_id.empty()) {
    Statement wire(db_.get(), "INSERT INTO crash_wire (machine_id, wire_id, crash_id, evidence) VALUES (?, ?, ?, ?)");
    if (!wire.BindText(1, c.machine_id).Bind(2, *c.wire_id).Bind(3, id).Bind(4, evidence).Run()) return 0;
  }
  if (c.summary && !AddSummaryRow(db_.get(), id, *c.summary)) return 0;
  return transaction.Commit() ? id : 0;
}

}  // namespace collector

#include <map>

#include "store/store.h"

namespace collector {
namespace {

std::vector<std::string> SplitLines(const std::string& joined) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < joined.size()) {
    size_t end = joined.find('\n', at);
    if (end == std::string::npos) end = joined.size();
    lines.push_back(joined.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::optional<std::string> OptionalBlob(const Statement& s, int column) {
  if (s.IsNull(column)) return std::nullopt;
  return s.Text(column);
}

std::optional<Identities> OptionalIdentities(const Statement& s, int first) {
  if (s.IsNull(first)) return std::nullopt;
  Identities ids;
  ids.identity1 = static_cast<uint16_t>(s.Int(first));
  ids.identity3 = static_cast<uint16_t>(s.Int(first + 1));
  ids.identity4 = static_cast<uint16_t>(s.Int(first + 2));
  return ids;
}

constexpr char kGroupColumns[] =
    "SELECT g.id, g.signature, g.crashes, g.first_seen, g.last_seen, "
    "(SELECT count(DISTINCT machine_id) FROM crashes WHERE group_id = g.id AND machine_id <> ''), "
    "(SELECT max(id) FROM crashes WHERE group_id = g.id) FROM crash_groups g";

CrashGroupRow ReadGroup(sqlite3* db, const Statement& s) {
  CrashGroupRow row;
  row.id = s.Int(0);
  row.signature = s.Text(1);
  row.crashes = s.Int(2);
  row.first_seen = s.Double(3);
  row.last_seen = s.Double(4);
  row.machines = s.Int(5);
  row.latest_crash = s.Int(6);
  Statement builds(db, "SELECT DISTINCT identity1, identity3, identity4 FROM crashes WHERE group_id = ? AND "
                       "identity3 IS NOT NULL ORDER BY identity3, identity4 LIMIT 20");
  builds.Bind(1, row.id);
  while (builds.Row()) row.builds.push_back(*OptionalIdentities(builds, 0));
  return row;
}

void ReadAnalysisRows(sqlite3* db, int64_t id, CrashAnalysis* a) {
  Statement modules(db, "SELECT path, name, base, size, time_stamp, debug_file, debug_id, system, ours, "
                        "symbols_found FROM crash_modules WHERE crash_id = ? ORDER BY module_index");
  modules.Bind(1, id);
  while (modules.Row()) {
    AnalyzedModule m;
    m.path = modules.Text(0);
    m.name = modules.Text(1);
    m.base = static_cast<uint64_t>(modules.Int(2));
    m.size = static_cast<uint64_t>(modules.Int(3));
    m.time_stamp = static_cast<uint32_t>(modules.Int(4));
    m.debug_file = modules.Text(5);
    m.debug_id = modules.Text(6);
    m.system = modules.Int(7) != 0;
    m.ours = modules.Int(8) != 0;
    m.symbols_found = modules.Int(9) != 0;
    a->modules.push_back(m);
  }
  Statement threads(db, "SELECT thread_id, crashed FROM crash_threads WHERE crash_id = ? ORDER BY thread_index");
  threads.Bind(1, id);
  while (threads.Row()) {
    AnalyzedThread t;
    t.thread_id = static_cast<uint32_t>(threads.Int(0));
    t.crashed = threads.Int(1) != 0;
    a->threads.push_back(t);
  }
  Statement frames(db, "SELECT thread_index, instruction, module_index, module_offset, trust FROM crash_frames "
                       "WHERE crash_id = ? ORDER BY thread_index, frame_index");
  frames.Bind(1, id);
  while (frames.Row()) {
    size_t t = static_cast<size_t>(frames.Int(0));
    if (t >= a->threads.size()) continue;
    AnalyzedFrame f;
    f.instruction = static_cast<uint64_t>(frames.Int(1));
    f.module = static_cast<int>(frames.Int(2));
    f.module_offset = static_cast<uint64_t>(frames.Int(3));
    std::string trust = frames.Text(4);
    for (FrameTrust candidate : {FrameTrust::kContext, FrameTrust::kUnwindInfo, FrameTrust::kFramePointer,
                                 FrameTrust::kScan, FrameTrust::kSummary}) {
      if (trust == FrameTrustName(candidate)) f.trust = candidate;
    }
    a->threads[t].frames.push_back(f);
  }
  Statement symbols(db, "SELECT thread_index, frame_index, function, file, line FROM crash_frame_symbols "
                        "WHERE crash_id = ? ORDER BY thread_index, frame_index, depth");
  symbols.Bind(1, id);
  while (symbols.Row()) {
    size_t t = static_cast<size_t>(symbols.Int(0)), f = static_cast<size_t>(symbols.Int(1));
    if (t >= a->threads.size() || f >= a->threads[t].frames.size()) continue;
    a->threads[t].frames[f].symbols.push_back(
        SourceLocation{symbols.Text(2), symbols.Text(3), static_cast<uint32_t>(symbols.Int(4))});
  }
}

// The crash's id on the wire and its summary, when they arrived.
void ReadWireRows(sqlite3* db, int64_t id, StoredCrash* c) {
  Statement wire(db, "SELECT wire_id, evidence FROM crash_wire WHERE crash_id = ? LIMIT 1");
  if (wire.Bind(1, id).Row()) {
    c->wire_id = static_cast<uint32_t>(wire.Int(0));
    c->whole = wire.Int(1) >= 2;
  }
  Statement summary(db, "SELECT received, wire_id, architecture, thread_id, message, message_cut, frames_cut "
                        "FROM crash_summaries WHERE crash_id = ?");
  if (!summary.Bind(1, id).Row()) return;
  SummaryRecord s;
  s.received = summary.Double(0);
  s.wire_id = static_cast<uint32_t>(summary.Int(1));
  s.architecture = summary.Text(2);
  s.thread_id = static_cast<uint32_t>(summary.Int(3));
  s.message = summary.Text(4);
  s.message_cut = summary.Int(5) != 0;
  s.frames_cut = summary.Int(6) != 0;
  c->summary = s;
}

}  // namespace

std::vector<CrashGroupRow> Store::CrashGroups() {
  std::vector<CrashGroupRow> rows;
  Statement s(db_.get(), (std::string(kGroupColumns) + " ORDER BY g.last_seen DESC").c_str());
  while (s.Row()) rows.push_back(ReadGroup(db_.get(), s));
  return rows;
}

std::optional<CrashGroupRow> Store::CrashGroup(int64_t id) {
  Statement s(db_.get(), (std::string(kGroupColumns) + " WHERE g.id = ?").c_str());
  s.Bind(1, id);
  if (!s.Row()) return std::nullopt;
  return ReadGroup(db_.get(), s);
}

std::vector<CrashListRow> Store::CrashesInGroup(int64_t group_id) {
  std::vector<CrashListRow> rows;
  Statement s(db_.get(), "SELECT id, received, machine_id, identity1, identity3, identity4, exception_name, "
                         "exception_code, source FROM crashes WHERE group_id = ? ORDER BY received DESC LIMIT 500");
  s.Bind(1, group_id);
  while (s.Row()) {
    CrashListRow row;
    row.id = s.Int(0);
    row.received = s.Double(1);
    row.machine_id = s.Text(2);
    row.identities = OptionalIdentities(s, 3);
    row.exception_name = s.Text(6);
    row.exception_code = static_cast<uint32_t>(s.Int(7));
    row.source = s.Text(8);
    rows.push_back(row);
  }
  return rows;
}

std::optional<CrashRecord> Store::Crash(int64_t id) {
  Statement s(db_.get(),
              "SELECT group_id, received, source, sender, machine_id, identity1, identity3, identity4, dir, "
              "package_bytes, truncated, minidump_bytes, minidump_valid, error, cut, cpu, has_exception, "
              "exception_code, exception_name, exception_address, crashed_thread_id, signature, notes, extra_info, "
              "user_info1, user_info2, user_info3, screenshot_file, screenshot_width, screenshot_height "
              "FROM crashes WHERE id = ?");
  s.Bind(1, id);
  if (!s.Row()) return std::nullopt;
  CrashRecord record;
  record.id = id;
  record.group_id = s.Int(0);
  StoredCrash& c = record.crash;
  c.received = s.Double(1);
  c.source = s.Text(2);
  c.sender = static_cast<uint32_t>(s.Int(3));
  c.machine_id = s.Text(4);
  c.identities = OptionalIdentities(s, 5);
  c.dir = s.Text(8);
  c.package_bytes = static_cast<uint64_t>(s.Int(9));
  c.truncated = s.Int(10) != 0;
  c.minidump_bytes = static_cast<uint64_t>(s.Int(11));
  c.minidump_valid = s.Int(12) != 0;
  c.error = s.Text(13);
  c.cut = SplitLines(s.Text(14));
  CrashAnalysis& a = c.analysis;
  a.cpu = s.Text(15);
  a.has_exception = s.Int(16) != 0;
  a.exception_code = static_cast<uint32_t>(s.Int(17));
  a.exception_name = s.Text(18);
  a.exception_address = static_cast<uint64_t>(s.Int(19));
  a.crashed_thread_id = static_cast<uint32_t>(s.Int(20));
  a.signature = s.Text(21);
  a.notes = SplitLines(s.Text(22));
  c.extra_info = OptionalBlob(s, 23);
  c.user_info1 = OptionalBlob(s, 24);
  c.user_info2 = OptionalBlob(s, 25);
  c.user_info3 = OptionalBlob(s, 26);
  c.screenshot_file = s.Text(27);
  c.screenshot_width = static_cast<uint32_t>(s.Int(28));
  c.screenshot_height = static_cast<uint32_t>(s.Int(29));
  ReadAnalysisRows(db_.get(), id, &a);
  ReadWireRows(db_.get(), id, &c);
  return record;
}

std::optional<std::string> Store::HardwareProfile(const std::string& machine_id) {
  // The key and kind are written out so that the partial index hardware_profiles serves the query.
  Statement s(db_.get(), "SELECT text FROM reports WHERE machine_id = ? AND key = 18 AND kind = 'text' "
                         "ORDER BY id DESC LIMIT 1");
  static_assert(KEY_HARDWARE_PROFILE == 18, "the query above names the key");
  s.BindText(1, machine_id);
  if (!s.Row()) return std::nullopt;
  return s.Text(0);
}

std::vector<KeyActivity> Store::ReportsPerKey(int hours, double now) {
  constexpr int64_t kHour = 3600;
  int64_t since = (static_cast<int64_t>(now) / kHour - hours + 1) * kHour;
  Statement s(db_.get(), "SELECT key, hour, reports FROM key_activity WHERE hour >= ? ORDER BY key, hour");
  s.Bind(1, since);
  std::map<uint32_t, KeyActivity> by_key;
  while (s.Row()) {
    KeyActivity& activity = by_key[static_cast<uint32_t>(s.Int(0))];
    activity.key = static_cast<uint32_t>(s.Int(0));
    activity.buckets.emplace_back(static_cast<double>(s.Int(1)), s.Int(2));
    activity.total += s.Int(2);
  }
  std::vector<KeyActivity> out;
  for (auto& entry : by_key) out.push_back(std::move(entry.second));
  return out;
}

std::vector<LatestValue> Store::LatestValues() {
  std::vector<LatestValue> out;
  Statement s(db_.get(), "SELECT r.key, r.kind, r.received, r.machine_id, r.value, r.text, r.blob_length, k.reports "
                         "FROM key_latest k JOIN reports r ON r.id = k.report_id ORDER BY k.key LIMIT 1000");
  while (s.Row()) {
    LatestValue v;
    v.key = static_cast<uint32_t>(s.Int(0));
    v.kind = s.Text(1);
    v.received = s.Double(2);
    v.machine_id = s.Text(3);
    if (!s.IsNull(4)) v.value = s.Int(4);
    v.text = s.Text(5);
    v.blob_length = static_cast<uint32_t>(s.Int(6));
    v.reports = s.Int(7);
    out.push_back(v);
  }
  return out;
}

int64_t Store::InvalidDatagrams() {
  Statement s(db_.get(), "SELECT count(*) FROM invalid_datagrams");
  return s.Row() ? s.Int(0) : 0;
}

}  // namespace collector

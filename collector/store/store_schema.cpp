#include "store/store_schema.h"

namespace collector {

// Kept in step with collector/STORE.md. Texts and user texts are BLOBs: they are the client's
// bytes (GBK among them), not UTF-8. Every later addition is a new table or index made when
// missing, so that a store an older collector wrote opens as it is and gains them.
const char kStoreSchema[] = R"SQL(
CREATE TABLE IF NOT EXISTS store_version (version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS reports (
  id INTEGER PRIMARY KEY,
  received REAL NOT NULL,
  sender INTEGER NOT NULL,
  machine_id TEXT NOT NULL,
  identity1 INTEGER NOT NULL,
  identity3 INTEGER NOT NULL,
  identity4 INTEGER NOT NULL,
  kind TEXT NOT NULL,
  wire_key INTEGER NOT NULL,
  scope INTEGER NOT NULL,
  key INTEGER NOT NULL,
  value INTEGER,
  text BLOB,
  blob_length INTEGER,
  blob_fnv1a64 TEXT,
  blob_file TEXT
);
CREATE INDEX IF NOT EXISTS hardware_profiles ON reports (machine_id) WHERE key = 18 AND kind = 'text';
CREATE TABLE IF NOT EXISTS key_activity (
  key INTEGER NOT NULL,
  hour INTEGER NOT NULL,
  reports INTEGER NOT NULL,
  PRIMARY KEY (key, hour)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS key_latest (
  key INTEGER PRIMARY KEY,
  report_id INTEGER NOT NULL,
  reports INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS invalid_datagrams (
  id INTEGER PRIMARY KEY,
  received REAL NOT NULL,
  sender INTEGER NOT NULL,
  size INTEGER NOT NULL,
  reason TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS crash_groups (
  id INTEGER PRIMARY KEY,
  signature TEXT NOT NULL UNIQUE,
  first_seen REAL NOT NULL,
  last_seen REAL NOT NULL,
  crashes INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS crashes (
  id INTEGER PRIMARY KEY,
  group_id INTEGER NOT NULL REFERENCES crash_groups (id),
  received REAL NOT NULL,
  source TEXT NOT NULL,
  sender INTEGER NOT NULL,
  machine_id TEXT NOT NULL,
  identity1 INTEGER,
  identity3 INTEGER,
  identity4 INTEGER,
  dir TEXT NOT NULL,
  package_bytes INTEGER NOT NULL,
  truncated INTEGER NOT NULL,
  minidump_bytes INTEGER NOT NULL,
  minidump_valid INTEGER NOT NULL,
  error TEXT NOT NULL,
  cut TEXT NOT NULL,
  cpu TEXT NOT NULL,
  has_exception INTEGER NOT NULL,
  exception_code INTEGER NOT NULL,
  exception_name TEXT NOT NULL,
  exception_address INTEGER NOT NULL,
  crashed_thread_id INTEGER NOT NULL,
  signature TEXT NOT NULL,
  notes TEXT NOT NULL,
  extra_info BLOB,
  user_info1 BLOB,
  user_info2 BLOB,
  user_info3 BLOB,
  screenshot_file TEXT NOT NULL,
  screenshot_width INTEGER NOT NULL,
  screenshot_height INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS crashes_by_group ON crashes (group_id, received);
CREATE TABLE IF NOT EXISTS crash_modules (
  crash_id INTEGER NOT NULL REFERENCES crashes (id),
  module_index INTEGER NOT NULL,
  path TEXT NOT NULL,
  name TEXT NOT NULL,
  base INTEGER NOT NULL,
  size INTEGER NOT NULL,
  time_stamp INTEGER NOT NULL,
  debug_file TEXT NOT NULL,
  debug_id TEXT NOT NULL,
  system INTEGER NOT NULL,
  ours INTEGER NOT NULL,
  symbols_found INTEGER NOT NULL,
  PRIMARY KEY (crash_id, module_index)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS crash_threads (
  crash_id INTEGER NOT NULL REFERENCES crashes (id),
  thread_index INTEGER NOT NULL,
  thread_id INTEGER NOT NULL,
  crashed INTEGER NOT NULL,
  PRIMARY KEY (crash_id, thread_index)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS crash_frames (
  crash_id INTEGER NOT NULL REFERENCES crashes (id),
  thread_index INTEGER NOT NULL,
  frame_index INTEGER NOT NULL,
  instruction INTEGER NOT NULL,
  module_index INTEGER NOT NULL,
  module_offset INTEGER NOT NULL,
  trust TEXT NOT NULL,
  PRIMARY KEY (crash_id, thread_index, frame_index)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS crash_frame_symbols (
  crash_id INTEGER NOT NULL REFERENCES crashes (id),
  thread_index INTEGER NOT NULL,
  frame_index INTEGER NOT NULL,
  depth INTEGER NOT NULL,
  function TEXT NOT NULL,
  file TEXT NOT NULL,
  line INTEGER NOT NULL,
  PRIMARY KEY (crash_id, thread_index, frame_index, depth)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS crashes_by_machine ON crashes (machine_id, received);
CREATE TABLE IF NOT EXISTS crash_wire (
  machine_id TEXT NOT NULL,
  wire_id INTEGER NOT NULL,
  crash_id INTEGER NOT NULL REFERENCES crashes (id),
  evidence INTEGER NOT NULL,
  PRIMARY KEY (machine_id, wire_id)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS crash_wire_by_crash ON crash_wire (crash_id);
CREATE TABLE IF NOT EXISTS crash_summaries (
  crash_id INTEGER PRIMARY KEY REFERENCES crashes (id),
  received REAL NOT NULL,
  wire_id INTEGER NOT NULL,
  architecture TEXT NOT NULL,
  thread_id INTEGER NOT NULL,
  message BLOB NOT NULL,
  message_cut INTEGER NOT NULL,
  frames_cut INTEGER NOT NULL
);
)SQL";

}  // namespace collector

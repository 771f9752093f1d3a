// Thin ownership wrappers over SQLite's C interface: a connection and a prepared statement that
// finalise themselves, and binders that take the collector's own types.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace collector {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;

class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  // Binders count from 1, as SQLite does.
  Statement& Bind(int index, int64_t value);
  Statement& BindDouble(int index, double value);
  Statement& BindText(int index, std::string_view text);
  Statement& BindBlob(int index, std::string_view bytes);
  Statement& BindNull(int index);
  // One step: true while a row is there to read.
  bool Row();
  // Runs a statement that returns no rows; false on an error. Resets for the next use.
  bool Run();
  void Reset();

  int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  double Double(int column) const { return sqlite3_column_double(statement_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string Text(int column) const;  // TEXT or BLOB, byte for byte

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// Runs one or more statements that return nothing.
bool Execute(sqlite3* db, const char* sql, std::string* error);

}  // namespace collector

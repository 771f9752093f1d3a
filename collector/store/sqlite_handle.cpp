#include "store/sqlite_handle.h"

namespace collector {

Statement::Statement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
}

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(statement_, index, value);
  return *this;
}

Statement& Statement::BindDouble(int index, double value) {
  sqlite3_bind_double(statement_, index, value);
  return *this;
}

Statement& Statement::BindText(int index, std::string_view text) {
  // Static: every caller keeps the text alive until the statement has run.
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  // A zero-length blob with a null pointer would be stored as NULL.
  static const char kEmpty = 0;
  sqlite3_bind_blob(statement_, index, bytes.empty() ? &kEmpty : bytes.data(), static_cast<int>(bytes.size()),
                    SQLITE_STATIC);
  return *this;
}

Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(statement_, index);
  return *this;
}

bool Statement::Row() { return statement_ && sqlite3_step(statement_) == SQLITE_ROW; }

bool Statement::Run() {
  if (!statement_) return false;
  int status = sqlite3_step(statement_);
  Reset();
  return status == SQLITE_DONE || status == SQLITE_ROW;
}

void Statement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::string Statement::Text(int column) const {
  const void* bytes = sqlite3_column_blob(statement_, column);
  int size = sqlite3_column_bytes(statement_, column);
  return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
}

bool Execute(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  if (error) *error = message ? message : "sqlite error";
  sqlite3_free(message);
  return false;
}

}  // namespace collector

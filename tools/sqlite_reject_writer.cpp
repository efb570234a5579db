// The SQLite rejects file (see reject_writer.h): a new database built under
// a temporary name, its table named and laid out as the source table with a
// column for the reason.
#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "tools/output_sink.h"
#include "tools/reject_writer.h"
#include "tools/schema_sql.h"

namespace strata::tools {

namespace {

class SqliteRejectWriter final : public RejectWriter {
 public:
  SqliteRejectWriter(const std::string& path, const ImportSource& source)
      : path_(path), temporary_(TemporaryNameFor(path)) {
    try {
      Open(source);
    } catch (...) {
      Discard();
      throw;
    }
  }
  ~SqliteRejectWriter() override { Discard(); }
  SqliteRejectWriter(const SqliteRejectWriter&) = delete;
  SqliteRejectWriter& operator=(const SqliteRejectWriter&) = delete;

  void Row(const SourceRow& row, std::string_view reason) override;
  void Commit() override;

 private:
  void Open(const ImportSource& source) {
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
    if (sqlite3_open_v2(temporary_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
      Fail();
    }
    std::string columns;
    std::string marks;
    for (const std::string& column : source.Columns()) {
      columns += QuoteIdentifier(column) + ", ";
      marks += "?, ";
    }
    const std::string table = QuoteIdentifier(source.TableName());
    Execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; CREATE TABLE " + table + " (" +
            columns + QuoteIdentifier(kRejectReasonColumn) + "); BEGIN");
    const std::string insert = "INSERT INTO " + table + " VALUES (" + marks + "?)";
    if (sqlite3_prepare_v2(db_, insert.c_str(), -1, &insert_, nullptr) != SQLITE_OK) Fail();
  }

  void Discard() noexcept {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    sqlite3_close(db_);
    db_ = nullptr;
    if (!committed_) {
      std::error_code ignored;
      std::filesystem::remove(temporary_, ignored);
    }
  }
  [[noreturn]] void Fail() const {
    throw OutputError("cannot write the SQLite database '" + path_ +
                      "': " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
  }
  void Execute(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }

  std::string path_;
  std::string temporary_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  bool committed_ = false;
};

void SqliteRejectWriter::Row(const SourceRow& row, std::string_view reason) {
  int at = 1;
  for (const SourceValue& value : row.Values) {
    switch (value.Type) {
      case SourceValue::Kind::Null: sqlite3_bind_null(insert_, at); break;
      case SourceValue::Kind::Integer: sqlite3_bind_int64(insert_, at, value.Integer); break;
      case SourceValue::Kind::Real: sqlite3_bind_double(insert_, at, value.Real); break;
      case SourceValue::Kind::Boolean: sqlite3_bind_int(insert_, at, value.Boolean ? 1 : 0); break;
      case SourceValue::Kind::Bytes:
        sqlite3_bind_blob64(insert_, at, value.Text.data(), value.Text.size(), SQLITE_TRANSIENT);
        break;
      default:
        sqlite3_bind_text64(insert_, at, value.Text.data(), value.Text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
        break;
    }
    ++at;
  }
  sqlite3_bind_text64(insert_, at, reason.data(), reason.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (sqlite3_step(insert_) != SQLITE_DONE) Fail();
  sqlite3_reset(insert_);
}

void SqliteRejectWriter::Commit() {
  Execute("COMMIT");
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  if (sqlite3_close(db_) != SQLITE_OK) Fail();
  db_ = nullptr;
  std::error_code code;
  std::filesystem::rename(temporary_, path_, code);
  if (code) throw OutputError("cannot write '" + path_ + "': " + code.message());
  committed_ = true;
}

}  // namespace

std::unique_ptr<RejectWriter> MakeSqliteRejectWriter(const std::string& path,
                                                     const ImportSource& source) {
  return std::make_unique<SqliteRejectWriter>(path, source);
}

}  // namespace strata::tools

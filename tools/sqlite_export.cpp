// `strata export-sqlite`: the tables of a folder into one SQLite database.
#include <sqlite3.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "engine/core/objects/data_directory.h"
#include "engine/locale/windows1252.h"
#include "tools/directory_reference.h"
#include "tools/export_command.h"
#include "tools/output_file.h"
#include "tools/progress_line.h"
#include "tools/schema_sql.h"
#include "tools/table_failures.h"
#include "tools/table_rows.h"

namespace strata::tools {

namespace {

using Kind = ExportValue::Kind;

// The database under construction, at the staged path of its OutputFile
// (which removes it unless it is committed).
class SqliteFile {
 public:
  SqliteFile(std::string path, std::string shown) : path_(std::move(path)), shown_(std::move(shown)) {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      Fail("cannot create");
    }
  }
  ~SqliteFile() { sqlite3_close(db_); }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  sqlite3* Handle() const { return db_; }
  [[noreturn]] void Fail(const std::string& what) const {
    const int code = db_ != nullptr ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
    std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    if ((code & 0xFF) == SQLITE_FULL) reason = OsReason(ENOSPC);
    throw OutputError(what + " the SQLite database '" + shown_ + "': " + reason);
  }
  void Execute(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail("cannot write");
  }
  void Close() {
    if (sqlite3_close(db_) != SQLITE_OK) Fail("cannot close");
    db_ = nullptr;
  }

 private:
  std::string path_;
  std::string shown_;
  sqlite3* db_ = nullptr;
};

class Insert {
 public:
  Insert(SqliteFile& file, const std::string& sql) : file_(file) {
    if (sqlite3_prepare_v2(file.Handle(), sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
      file.Fail("cannot write");
    }
  }
  ~Insert() { sqlite3_finalize(statement_); }
  Insert(const Insert&) = delete;
  Insert& operator=(const Insert&) = delete;

  void Row(std::span<const ExportValue* const> values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      const ExportValue& value = *values[i];
      switch (value.Type) {
        case Kind::Null: sqlite3_bind_null(statement_, at); break;
        case Kind::Integer: sqlite3_bind_int64(statement_, at, value.Integer); break;
        case Kind::Float: sqlite3_bind_double(statement_, at, value.Float); break;
        case Kind::Boolean: sqlite3_bind_int(statement_, at, value.Boolean ? 1 : 0); break;
        case Kind::Binary:
          sqlite3_bind_blob64(statement_, at, value.Text.data(), value.Text.size(),
                              SQLITE_TRANSIENT);
          break;
        default:
          sqlite3_bind_text64(statement_, at, value.Text.data(), value.Text.size(),
                              SQLITE_TRANSIENT, SQLITE_UTF8);
          break;
      }
    }
    if (sqlite3_step(statement_) != SQLITE_DONE) file_.Fail("cannot write");
    sqlite3_reset(statement_);
  }

 private:
  SqliteFile& file_;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace

void RunExportSqlite(TDataSession& session, const SqliteExportRequest& request, std::ostream& out,
                     std::ostream* progress) {
  // A regular file would be lost; a device, a FIFO or standard output is
  // simply written.
  std::error_code code;
  if (!request.Replace && request.Database != "-" &&
      std::filesystem::is_regular_file(request.Database, code)) {
    throw OutputError("'" + request.Database + "' exists already; --replace replaces it");
  }
  DirectoryReference reference(session, request.Folder);
  TDataDirectory& directory = *reference;
  const std::vector<std::string> tables = TablesToRead(directory, request.Tables, request.Shown);

  OutputFile target(request.Database, OutputFile::Use::Staged, out);
  SqliteFile file(target.StagedPath(), target.Shown());
  file.Execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  ProgressLine line(progress);
  for (const std::string& table : tables) {
    std::unique_ptr<Insert> insert;
    std::vector<std::string> indexes;
    bool begun = false;
    RowCallbacks callbacks;
    callbacks.Begin = [&](const TableReport& report, std::span<const std::string> names) {
      // The table and its rows in one transaction: a table that fails on
      // the way leaves nothing.
      file.Execute("BEGIN");
      begun = true;
      file.Execute(CreateTableSql(report, SqlDialect::Sqlite));
      indexes = CreateIndexSql(report, SqlDialect::Sqlite);
      std::string sql = "INSERT INTO " + QuoteIdentifier(Windows1252ToUtf8(report.Table)) + " (";
      std::string marks;
      for (std::size_t i = 0; i < names.size(); ++i) {
        sql += (i > 0 ? ", " : "") + QuoteIdentifier(names[i]);
        marks += i > 0 ? ", ?" : "?";
      }
      insert = std::make_unique<Insert>(file, sql + ") VALUES (" + marks + ")");
    };
    callbacks.Row = [&](std::int32_t, std::span<const ExportValue* const> values) {
      insert->Row(values);
    };
    callbacks.Progress = [&](std::uint16_t percent) {
      line.Show(Windows1252ToUtf8(table), percent);
    };
    try {
      ReadTableRows(directory, table, {}, callbacks);
    } catch (const OutputError&) {
      throw;  // the database itself failed: no other table would fare better
    } catch (const std::exception& error) {
      if (request.Failures == nullptr) throw;
      insert.reset();
      if (begun) file.Execute("ROLLBACK");
      line.Clear();
      request.Failures->Report(table, error);
      continue;
    }
    insert.reset();
    file.Execute("COMMIT");
    for (const std::string& index : indexes) file.Execute(index);
  }
  file.Close();
  target.Commit();
}

}  // namespace strata::tools

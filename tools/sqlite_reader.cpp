// The SQLite input of `strata import` (see import_source.h): one table of a
// SQLite database, opened read-only, its rows in the order SQLite gives
// them for a plain SELECT.
#include <sqlite3.h>

#include "tools/import_source.h"

namespace strata::tools {

namespace {

std::string QuotedName(const std::string& name) {
  std::string quoted = "\"";
  for (const char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

class SqliteSource final : public ImportSource {
 public:
  SqliteSource(const std::string& path, const std::string& table) : path_(path), table_(table) {
    try {
      Open();
    } catch (...) {
      sqlite3_finalize(select_);
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteSource() override {
    sqlite3_finalize(select_);
    sqlite3_close(db_);
  }
  SqliteSource(const SqliteSource&) = delete;
  SqliteSource& operator=(const SqliteSource&) = delete;

  ImportFormat Format() const override { return ImportFormat::Sqlite; }
  const std::vector<std::string>& Columns() const override { return columns_; }
  const std::string& TableName() const override { return table_; }
  std::uint16_t Percent() const override {
    return total_ <= 0
               ? 100
               : static_cast<std::uint16_t>(std::min<std::int64_t>(100, read_ * 100 / total_));
  }

  bool Next(SourceRow& row) override {
    const int step = sqlite3_step(select_);
    if (step == SQLITE_DONE) return false;
    if (step != SQLITE_ROW) Fail("cannot read");
    row.Ordinal = ++read_;
    row.Line = 0;
    row.Raw = {};
    row.Problem.clear();
    row.Names.clear();
    row.Values.resize(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) Read(static_cast<int>(i), row.Values[i]);
    return true;
  }

 private:
  void Open() {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      Fail("cannot open");
    }
    sqlite3_stmt* count = nullptr;
    const std::string from = " FROM " + QuotedName(table_);
    if (sqlite3_prepare_v2(db_, ("SELECT count(*)" + from).c_str(), -1, &count, nullptr) !=
        SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db_);
      sqlite3_finalize(count);
      if (message.find("no such table") != std::string::npos) {
        throw ImportError("the SQLite database '" + path_ + "' has no table '" + table_ +
                          "' (--from-table names another)");
      }
      throw ImportError("cannot read the SQLite database '" + path_ + "': " + message);
    }
    if (sqlite3_step(count) == SQLITE_ROW) total_ = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    if (sqlite3_prepare_v2(db_, ("SELECT *" + from).c_str(), -1, &select_, nullptr) != SQLITE_OK) {
      Fail("cannot read");
    }
    for (int i = 0; i < sqlite3_column_count(select_); ++i) {
      const char* name = sqlite3_column_name(select_, i);
      columns_.emplace_back(name != nullptr ? name : "");
    }
  }

  void Read(int column, SourceValue& value) const {
    switch (sqlite3_column_type(select_, column)) {
      case SQLITE_INTEGER:
        value.Type = SourceValue::Kind::Integer;
        value.Integer = sqlite3_column_int64(select_, column);
        break;
      case SQLITE_FLOAT:
        value.Type = SourceValue::Kind::Real;
        value.Real = sqlite3_column_double(select_, column);
        break;
      case SQLITE_TEXT: {
        value.Type = SourceValue::Kind::Text;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select_, column));
        value.Text =
            std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(select_, column)));
        break;
      }
      case SQLITE_BLOB: {
        value.Type = SourceValue::Kind::Bytes;
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(select_, column));
        value.Text = std::string_view(
            bytes, static_cast<std::size_t>(sqlite3_column_bytes(select_, column)));
        break;
      }
      default: value.Type = SourceValue::Kind::Null; break;
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw ImportError(what + " the SQLite database '" + path_ +
                      "': " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
  }

  std::string path_;
  std::string table_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  std::vector<std::string> columns_;
  std::int64_t total_ = 0;
  std::int64_t read_ = 0;
};

}  // namespace

std::unique_ptr<ImportSource> OpenSqliteSource(const std::string& path, const std::string& table) {
  return std::make_unique<SqliteSource>(path, table);
}

}  // namespace strata::tools

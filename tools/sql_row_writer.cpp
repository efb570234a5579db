#include "tools/row_writer.h"

#include "engine/locale/windows1252.h"

namespace strata::tools {

namespace {

class SqlRowWriter final : public RowWriter {
 public:
  SqlRowWriter(OutputSink& sink, const TableReport& table, SqlDialect dialect)
      : sink_(sink), table_(table), dialect_(dialect) {}

  void Begin(std::span<const std::string> names) override {
    // The literals are UTF-8, and a backslash in a plain one is itself,
    // whatever the client and server were set to.
    if (dialect_ == SqlDialect::Postgresql) {
      sink_.Append("SET client_encoding = 'UTF8';\nSET standard_conforming_strings = on;\n");
    }
    sink_.Append("BEGIN;\n");
    sink_.Append(CreateTableSql(table_, dialect_));
    insert_ = "INSERT INTO " + QuoteIdentifier(Windows1252ToUtf8(table_.Table)) + " (";
    for (std::size_t i = 0; i < names.size(); ++i) {
      insert_ += (i > 0 ? ", " : "") + QuoteIdentifier(names[i]);
    }
    insert_ += ") VALUES (";
  }

  void Row(std::span<const ExportValue* const> values) override {
    std::string& out = sink_.Buffer();
    out += insert_;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out += ", ";
      out += SqlLiteral(*values[i], dialect_);
    }
    out += ");\n";
    sink_.MaybeFlush();
  }

  void End() override {
    for (const std::string& statement : CreateIndexSql(table_, dialect_)) sink_.Append(statement);
    sink_.Append("COMMIT;\n");
  }

 private:
  OutputSink& sink_;
  TableReport table_;
  SqlDialect dialect_;
  std::string insert_;
};

}  // namespace

std::unique_ptr<RowWriter> MakeSqlWriter(OutputSink& sink, const TableReport& table,
                                         SqlDialect dialect) {
  return std::make_unique<SqlRowWriter>(sink, table, dialect);
}

}  // namespace strata::tools

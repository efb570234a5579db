// SQL that reproduces a table in another database: CREATE TABLE with the
// field types mapped to the dialect (docs/schema-types.md), NOT NULL for
// required fields, DEFAULT from the default value, CHECK from the minimum
// and maximum, the primary index as the primary key, and CREATE INDEX for
// the secondary indexes with their unique, descending and case-insensitive
// parts. Keys on the system fields RecordID and RecordHash have no column
// to name: such parts are left out (a primary index on RecordID gives no
// primary key), and so is the full-text index. Names are UTF-8 quoted
// identifiers; an index is named "<table>_<index>", unique in a database.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/export_value.h"
#include "tools/table_report.h"

namespace strata::tools {

enum class SqlDialect { Sqlite, Postgresql };

// "sqlite" or "postgresql"; std::invalid_argument otherwise.
SqlDialect SqlDialectNamed(std::string_view name);

std::string QuoteIdentifier(std::string_view utf8);
std::string SqlTypeOf(const FieldDescriptor& field, SqlDialect dialect);
// A value as an SQL literal: NULL, numbers as written, booleans 1/0
// (SQLite) or TRUE/FALSE (PostgreSQL), texts, dates and times quoted, bytes
// X'...' (SQLite) or '\x...' (PostgreSQL).
std::string SqlLiteral(const ExportValue& value, SqlDialect dialect);

// Statements ending in ";\n".
std::string CreateTableSql(const TableReport& table, SqlDialect dialect);
std::vector<std::string> CreateIndexSql(const TableReport& table, SqlDialect dialect);

}  // namespace strata::tools

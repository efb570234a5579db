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

// "sqlite" or "postgresql" in any letter case; std::invalid_argument
// otherwise.
SqlDialect SqlDialectNamed(std::string_view name);

std::string QuoteIdentifier(std::string_view utf8);
std::string SqlTypeOf(const FieldDescriptor& field, SqlDialect dialect);
// A value as an SQL literal: NULL, numbers as written, booleans 1/0
// (SQLite) or TRUE/FALSE (PostgreSQL), texts, dates and times quoted, bytes
// X'...' (SQLite) or '\x...' (PostgreSQL).
//
// A text comes back byte for byte from each dialect's client (the sqlite3
// shell, psql): control characters other than tab and line feed are never
// written raw, since line readers change them (the sqlite3 shell drops a CR
// before a line feed). SQLite: each is written as a token (a marker the
// text does not hold, then "r" or "x" and two hex digits) that nested
// replace(..., token, char(n)) turn back, one per character present; a
// text with a NUL byte (or with more kinds of control character than a few
// nested calls take) is CAST(X'<hex>' AS TEXT), which keeps every byte. PostgreSQL:
// an escape string E'...' with \r, \b, \f or \xHH and backslashes doubled;
// PostgreSQL text cannot hold NUL, which the export deals with before.
std::string SqlLiteral(const ExportValue& value, SqlDialect dialect);

// Statements ending in ";\n".
std::string CreateTableSql(const TableReport& table, SqlDialect dialect);
std::vector<std::string> CreateIndexSql(const TableReport& table, SqlDialect dialect);

}  // namespace strata::tools

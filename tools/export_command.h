// `strata export DIR TABLE [--format csv|json|jsonl|sql] [--output FILE]
// [--fields A,B,...] [--null TEXT] [--nul-as TEXT]
// [--dialect sqlite|postgresql]`: one
// table's records in one of the row formats (row_writer.h), to standard
// output or to FILE ("-": standard output), written as OutputFile
// (output_file.h) writes it. Reads only.
//
// `strata export-sqlite DIR OUT.db [TABLE...] [--replace]`: every table (or
// those named) into one new SQLite database: the SQLite schema
// (schema_sql.h) and each table's rows in one transaction, then its indexes;
// values as the SQL export gives them. An existing regular file OUT.db is
// refused unless --replace; the database is built whole before it reaches
// OUT.db, as OutputFile (output_file.h) writes it.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace strata {
class TDataSession;
}

namespace strata::tools {

struct ExportRequest {
  std::string Folder;
  std::string Table;
  std::string Format = "csv";
  std::optional<std::string> Output;
  std::vector<std::string> Fields;
  std::optional<std::string> NullText;
  // What a NUL byte in a text becomes; none: it stays (CSV, JSON, SQLite
  // SQL), and a PostgreSQL export, whose text cannot hold it, stops with an
  // error naming the table, record and field.
  std::optional<std::string> NulAs;
  std::string Dialect = "sqlite";
};

void RunExport(TDataSession& session, const ExportRequest& request, std::ostream& out,
               std::ostream* progress);

class TableFailures;

struct SqliteExportRequest {
  std::string Folder;
  std::string Shown;  // DIR as typed
  std::string Database;
  std::vector<std::string> Tables;  // UTF-8; none: every table of the folder
  bool Replace = false;
  // Where a table that cannot be read goes (it is left out of the
  // database); none: the first such table ends the export.
  TableFailures* Failures = nullptr;
};

// out receives the database when OUT is "-".
void RunExportSqlite(TDataSession& session, const SqliteExportRequest& request, std::ostream& out,
                     std::ostream* progress);

}  // namespace strata::tools

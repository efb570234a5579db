// `strata import DIR TABLE FILE [--format csv|json|jsonl|sqlite]
// [--from-table NAME] [--fields A,B,...] [--null TEXT] [--mode append|replace]
// [--rejects FILE] [--dry-run]`: rows of FILE (see import_source.h for the
// formats, import_value.h for the value forms) put into a table, all or
// nothing.
//
// The rows go into a new version of the table built in the run's scratch
// folder inside DIR: an empty table of the same structure (replace mode,
// which empties the table, or a table that is empty), whose indexes are
// then built from their sorted keys, or a copy of the table's files, into
// which the rows are inserted with their keys. The new version then takes
// the table's place through the table journal (TDataCursor::
// ReplaceTableFiles), so a kill, a power cut, a full disk or an error at any
// moment leaves the table as it was or with every accepted row. While the
// import runs, the table stays open shared: readers go on reading the old
// table, and writers of other programs wait (the import holds the table's
// transaction lock); at the end the import takes the table exclusively for
// a moment, waiting briefly for readers to close it, and refuses to swap
// when the table changed meanwhile.
//
// Each row goes through the engine's write path: a value that does not
// convert or fit, a required field left NULL, a value outside the field's
// minimum or maximum, or a key already in a unique index refuses the row.
// Without a rejects file the import changes nothing when any row is
// refused: the refusals (up to 20, then a count) go to err and ImportRefused
// is raised. With one, the accepted rows go in and each refused row goes to
// the rejects file (reject_writer.h) with its line or row and its reason;
// the rows refused for a duplicate key follow the others. A dry run reads
// and checks everything, changes nothing and writes no rejects file, and
// reports to out what would go in and what would be refused.
//
// Returns the exit status: 0 every row went in (or would), 1 rows were
// refused into the rejects file (or would be). Errors are engine errors,
// ImportError for unreadable input, OutputError for the rejects file,
// std::invalid_argument for arguments that do not fit.
#pragma once

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace strata {
class TDataSession;
}

namespace strata::tools {

// Rows were refused and nothing was imported.
class ImportRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ImportRequest {
  std::string Folder;  // the database folder, ending in "/"
  std::string Table;   // UTF-8
  std::string File;
  std::string Format;     // csv, json, jsonl or sqlite; empty: from the file's extension
  std::string FromTable;  // SQLite: the table to read; empty: Table
  std::vector<std::string> Fields;
  std::optional<std::string> NullText;
  std::string Mode = "append";  // or "replace"
  std::optional<std::string> Rejects;
  bool DryRun = false;
};

// The session is the default session of the components (the import makes
// its scratch folder through it).
int RunImport(TDataSession& session, const ImportRequest& request, std::ostream& out,
              std::ostream& err, std::ostream* progress);

}  // namespace strata::tools

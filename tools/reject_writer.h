// RejectWriter: the rows an import refused, written to a file in the
// input's own form with the reason for each, so that they can be fixed and
// imported again:
//
//   CSV         the header with a last column "reject_reason", then each
//               refused record as it was read, the reason added as its
//               last field (CRLF line ends);
//   JSON        an array of the refused objects as they were read, each
//   JSON lines  with a member "reject_reason" added (one object a line for
//               JSON lines); a line that was no object becomes
//               {"reject_reason": ..., "reject_text": <the line>};
//   SQLite      a new database with a table of the source table's name and
//               columns and a column "reject_reason", the values of their
//               storage classes.
//
// The import skips a column named "reject_reason" when the table has no
// field of that name. The file is written under a temporary name in its
// folder and takes its name at Commit; without Commit nothing is left.
// Failures raise OutputError naming the file.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/import_source.h"

namespace strata::tools {

inline constexpr char kRejectReasonColumn[] = "reject_reason";

class RejectWriter {
 public:
  virtual ~RejectWriter() = default;
  virtual void Row(const SourceRow& row, std::string_view reason) = 0;
  virtual void Commit() = 0;
};

// The writer for the source's format (its columns and, for SQLite, its
// table name). A CSV or JSON rejects file goes where OutputFile puts it
// (output_file.h); "-" writes it to standardOutput.
std::unique_ptr<RejectWriter> MakeRejectWriter(const std::string& path, const ImportSource& source,
                                               std::ostream& standardOutput);
// The SQLite one (sqlite_reject_writer.cpp).
std::unique_ptr<RejectWriter> MakeSqliteRejectWriter(const std::string& path,
                                                     const ImportSource& source);

}  // namespace strata::tools

// TableReport: what `strata info` shows of a table: the data file header,
// the field descriptors and the defined indexes, read without changing a
// byte of the table's files. Texts stay Windows-1252 bytes, as stored.
//
// ReadTableReport opens the table read-only and shared in a directory opened
// for reading (so a writer in another program is excluded only while the
// headers are read, and no lock file appears), copies what it needs and
// closes it again. The engine recreates a missing
// or truncated index file when it opens a table; that would change the
// table, so the report refuses such a table with a TableReportError naming
// the index file instead. The engine's own errors (STRATA_OSENOENT for a missing
// table, STRATA_OLDVERSION, STRATA_BADSIGNATURE, STRATA_HEADERCORRUPT ...) pass through unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/objects/data_directory.h"
#include "engine/core/objects/data_session.h"
#include "engine/formats/data_file_header.h"
#include "engine/formats/field_descriptor.h"

namespace strata::tools {

class TableReportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct KeyFieldReport {
  std::uint16_t Number = 0;
  std::string Name;  // "#<number>" when the table has no such field
  bool Descending = false;
};

struct IndexReport {
  int Slot = 0;
  std::string Name;  // "<Primary>" for an unnamed primary index
  std::vector<KeyFieldReport> KeyFields;
  bool Unique = false;
  bool CaseInsensitive = false;
  std::uint8_t Compression = 0;
  std::uint16_t KeyLength = 0;
  std::int32_t RootPage = 0;
  bool FullText = false;
};

struct TableReport {
  std::string Directory;  // with its trailing "/"
  std::string Table;      // the table name
  DataFileHeader Header;
  std::optional<std::string> LocaleName;  // none when the locale is not installed
  std::vector<FieldDescriptor> Fields;
  // The primary index, the secondary indexes in slot order and, when it has
  // fields, the full-text index.
  std::vector<IndexReport> Indexes;
  // The sizes of the data, index and BLOB file (0 for a BLOB file the table
  // does not have).
  std::int64_t DataFileSize = 0;
  std::int64_t IndexFileSize = 0;
  std::int64_t BlobFileSize = 0;
};

TableReport ReadTableReport(TDataDirectory& directory, std::string_view table);
// The check ReadTableReport makes before it opens a table: a
// TableReportError when the table's index file is missing or truncated
// (opening would recreate it).
void RequireIndexFile(TDataDirectory& directory, std::string_view table);
TableReport ReadTableReport(TDataSession& session, std::string_view directory,
                            std::string_view table);

// LastUpdated as local date-time text "YYYY-MM-DD HH:MM:SS"; none when the
// stored value is no date.
std::optional<std::string> LastUpdatedText(double stored);

}  // namespace strata::tools

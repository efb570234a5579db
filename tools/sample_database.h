// `strata sample-db DIR [--rows N]`: writes a database as an earlier version
// of the home-organiser left it, for trying the update run. Every catalogue
// table is derived from its current definition in a fixed, repeatable way:
// some tables are missing (never the accents table, which the update run
// needs), some have lost their last field, fields have other types and
// sizes (integers as small integers, auto-increment fields as plain
// integers, strings shorter or longer, dates as timestamps and back,
// currency as plain floats), secondary indexes differ, every table has
// locale 0, user version 0 and no description. Each table gets the same
// number of rows, with values unique per row in every field, so that the
// update keeps every row under the current unique indexes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "components/field_type.h"
#include "update/catalogue.h"

namespace strata::tools {

inline constexpr std::int32_t kDefaultSampleRows = 300;
inline constexpr std::int32_t kMaxSampleRows = 30000;  // small integers hold the row number

// The older shape of one catalogue field (nothing when the field is
// missing from it).
struct SampleField {
  std::string Name;
  TFieldType DataType;
  std::int32_t Size;
};

struct SampleIndex {
  std::string Name;
  std::string Fields;
  TIndexOptions Options;
};

struct SampleTable {
  std::string FileName;
  std::vector<SampleField> Fields;
  std::vector<SampleIndex> Indexes;
};

// The tables of the sample in catalogue order: missing tables are absent.
std::vector<SampleTable> SampleTables();

// The text of a string field of `length` characters in row `row`: the row
// number, a blank and the field's name, cut to the length. The number is
// decimal where five digits and the blank fit, else base 36, so that no two
// rows up to kMaxSampleRows share a text in whatever letter case, in the
// sample's field or in the catalogue's (which is never too short for the
// number and its blank).
inline constexpr std::size_t kDecimalTagLength = 6;
std::string SampleText(std::int32_t row, std::string_view fieldName, std::size_t length);

// Writes the sample into an existing, empty directory; raises the engine's
// error when a table cannot be written, and refuses a directory that
// already holds tables.
void WriteSampleDatabase(const std::string& directory, std::int32_t rows);

// `strata sample-db`: makes the folder (given as typed, relative to the
// current directory or absolute) with the parents it lacks and writes the
// sample into it. A folder that exists must be empty: EDatabaseError
// "The directory '<DIR>' already holds tables" or "... is not empty"
// otherwise. Whatever it began is removed again when the writing fails
// or a signal ends the program (signal_cleanup.h): the folders it made,
// or the files it wrote into the empty folder it was given.
void CreateSampleFolder(const std::string& folder, std::int32_t rows);

}  // namespace strata::tools

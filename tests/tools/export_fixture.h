// A database for the tests of the reading commands: the sample database of
// an earlier structure (a few rows per table) and, beside it, "Everything"
// (a field of every type; a row of NULLs, a row of values with
// Windows-1252 text outside ASCII, and a row with memos and binary BLOBs
// of several blocks) and "Secret" (encrypted with the password "pw").
// EngineCells reads a table through the engine and renders each value in
// the export's text form on its own, for comparison with what a command
// wrote.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/update/update_test_support.h"

namespace strata::testing {

inline constexpr std::int32_t kSampleRows = 12;

// One value as the exports must give it: nullopt for NULL, else the text
// (binary values as their raw bytes, floats in their shortest form).
using Cell = std::optional<std::string>;

struct EngineTable {
  std::vector<std::string> Names;  // UTF-8
  std::vector<std::uint8_t> EngineTypes;
  std::vector<bool> Binary;  // binary BLOBs and byte fields
  std::vector<std::vector<Cell>> Rows;
};

// Reads with a session of its own (the default components must exist).
EngineTable EngineCells(const std::string& directory, const std::string& table,
                        const std::string& password = {});

// Creates an empty table of an integer and a string[size] field through
// the table component, encrypted when a password is given.
void CreateNumberAndTextTable(const std::string& directory, const std::string& name,
                              const std::string& numberField, const std::string& textField,
                              std::int32_t size, const std::string& password = {});

// Writes the sample database and the two extra tables into directory.
void WriteExportDatabase(const std::string& directory);

// Files of a folder: name -> bytes and modification time.
std::string FolderSnapshot(const std::string& directory);

std::string Base64Decoded(std::string_view text);

// Every row of the table in a SQLite database, in rowid order, against the
// engine's values: texts and bytes byte for byte (NUL included), numbers
// by value.
void ExpectSqliteRows(sqlite3* db, const std::string& table, const EngineTable& engine);

}  // namespace strata::testing

// Table names and paths. A caller's name or path may use "\" or "/"; paths
// are kept with "/" and directories with a trailing "/". A table name is the
// file-name part of what the caller gave, without a trailing data extension
// (letter case ignored), cut to 60 characters; it keys the directory's table
// list and the lock file. A name that ends in the data extension twice keeps
// both ("x.dat.dat" is the table of the file x.dat.dat), so that reducing a
// table name again never changes it. Its file for an extension X is the name with X in
// place of its own extension when that equals the data extension, else the
// name with X appended (asset -> asset.idx, my.table -> my.table.idx).
// Names compare without regard to letter case (Windows-1252 mapping).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace strata {

inline constexpr std::size_t kMaxTableNameLength = 60;
inline constexpr std::size_t kMaxDatabaseNameLength = 60;

// "\" turned into "/".
std::string NormalizeSlashes(std::string_view path);

// Blanks (spaces and control bytes) removed at both ends.
std::string_view TrimBlanks(std::string_view text);

// The directory trimmed, normalised, with a trailing "/"; empty stays empty.
std::string DirectoryWithSlash(std::string_view directory);

// The path without its trailing "/"; the root stays "/".
std::string DatabaseNameOfPath(std::string_view path);

// The table name of what a caller gave (a name, a file name or a path).
std::string TableNameOf(std::string_view given, std::string_view dataExtension);

// The file name of a table name for an extension.
std::string TableFileName(std::string_view name, std::string_view dataExtension,
                          std::string_view extension);

bool SameTableName(std::string_view a, std::string_view b);
// <0, 0, >0, letter case ignored.
int CompareTableNames(std::string_view a, std::string_view b);

}  // namespace strata

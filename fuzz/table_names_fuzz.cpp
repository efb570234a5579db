// Fuzzes the reading of table names and paths: what a caller or a file
// listing gives is reduced to a table name, turned into file names and
// compared. A name taken from a table's own data file name must name that
// file again, and the comparisons must agree with each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/core/schema/table_names.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace strata;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // "given|other": two texts to reduce and compare.
  const std::size_t bar = input.find('|');
  const std::string_view given = input.substr(0, bar);
  const std::string_view other = bar == std::string_view::npos ? "" : input.substr(bar + 1);

  const std::string name = TableNameOf(given, ".dat");
  Require(name.size() <= kMaxTableNameLength);
  const std::string dataFile = TableFileName(name, ".dat", ".dat");
  const std::string indexFile = TableFileName(name, ".dat", ".idx");
  Require(dataFile.size() >= 4 && indexFile.size() >= 4);
  // The data file of a name leads back to the same name (when the name
  // keeps its full length and names a file at all).
  if (name.size() < kMaxTableNameLength && !name.empty() &&
      name.find('/') == std::string::npos && TrimBlanks(name) == name) {
    Require(SameTableName(TableNameOf(dataFile, ".dat"), name));
  }
  const std::string otherName = TableNameOf(other, ".dat");
  Require(SameTableName(name, otherName) == (CompareTableNames(name, otherName) == 0));
  Require(CompareTableNames(name, otherName) == -CompareTableNames(otherName, name));

  const std::string directory = DirectoryWithSlash(given);
  Require(directory.empty() || directory.back() == '/');
  Require(directory.find('\\') == std::string::npos);
  const std::string database = DatabaseNameOfPath(directory);
  Require(database == "/" || database.empty() || database.back() != '/');
  return 0;
}

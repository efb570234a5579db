#include "engine/core/schema/table_names.h"

#include <algorithm>

#include "engine/locale/windows1252.h"

namespace strata {

namespace {

unsigned char Folded(char c) { return kWindows1252Upper[static_cast<unsigned char>(c)]; }

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (suffix.empty() || text.size() < suffix.size()) return false;
  return SameTableName(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace

std::string NormalizeSlashes(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

std::string DirectoryWithSlash(std::string_view directory) {
  std::string result = NormalizeSlashes(TrimBlanks(directory));
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

std::string DatabaseNameOfPath(std::string_view path) {
  std::string result(path);
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string TableNameOf(std::string_view given, std::string_view dataExtension) {
  const std::string normalized = NormalizeSlashes(TrimBlanks(given));
  std::string_view name = normalized;
  if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos) {
    name.remove_prefix(slash + 1);
  }
  // One data extension is dropped; a name that would still end in one
  // keeps both, so that reducing a table name again changes nothing and
  // "x.dat.dat" names the file "x.dat.dat", not the table "x".
  if (EndsWithIgnoringCase(name, dataExtension) &&
      !EndsWithIgnoringCase(name.substr(0, name.size() - dataExtension.size()), dataExtension)) {
    name.remove_suffix(dataExtension.size());
  }
  return std::string(name.substr(0, kMaxTableNameLength));
}

std::string TableFileName(std::string_view name, std::string_view dataExtension,
                          std::string_view extension) {
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && SameTableName(name.substr(dot), dataExtension)) {
    return std::string(name.substr(0, dot)) + std::string(extension);
  }
  return std::string(name) + std::string(extension);
}

bool SameTableName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return Folded(x) == Folded(y); });
}

int CompareTableNames(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = Folded(a[i]);
    const unsigned char y = Folded(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace strata

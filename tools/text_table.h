// TextTable: rows of UTF-8 cells printed in aligned columns, each column as
// wide as its widest cell (counted in characters, not bytes), separated by
// two spaces, trailing blanks left out.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace strata::tools {

// The number of characters of a UTF-8 text.
std::size_t DisplayWidth(std::string_view utf8);

class TextTable {
 public:
  void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  // Each line starts with indent.
  void Print(std::ostream& out, std::string_view indent = {}) const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace strata::tools

#include "tools/text_table.h"

#include <algorithm>

namespace strata::tools {

std::size_t DisplayWidth(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void TextTable::Print(std::ostream& out, std::string_view indent) const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
  }
  for (const auto& row : rows_) {
    std::string line(indent);
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c > 0) line += "  ";
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - DisplayWidth(row[c]), ' ');
    }
    while (line.size() > indent.size() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

}  // namespace strata::tools

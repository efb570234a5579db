// The line sink of the header checks that verification and repair run on a
// table's data, index and BLOB files (RepairHeader): each finding is one
// line of text, in the exact wording other programs and users compare
// against. In repair mode a fixed finding ends in ", error fixed".
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace strata {

using RepairLog = std::function<void(std::string_view line)>;

inline constexpr std::string_view kErrorFixed = ", error fixed";

// The ending of a line that a repair fixes: nothing when only verifying.
inline std::string_view FixedSuffix(bool repair) {
  return repair ? kErrorFixed : std::string_view();
}

// The findings of one header check: each line goes to the log and marks the
// check as not clean.
class HeaderFindings {
 public:
  HeaderFindings(const RepairLog& log, bool repair) : log_(log), repair_(repair) {}
  void operator()(const std::string& line) {
    clean_ = false;
    log_(line);
  }
  bool Repair() const { return repair_; }
  // The ending of a fixed finding's line in this mode.
  std::string Suffix() const { return std::string(FixedSuffix(repair_)); }
  bool Clean() const { return clean_; }

 private:
  const RepairLog& log_;
  bool repair_;
  bool clean_ = true;
};

}  // namespace strata

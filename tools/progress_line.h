// ProgressLine: the progress of one piece of work on one terminal line,
// rewritten in place and blanked when the work is done; nothing at all
// without a terminal (a null stream), so piped or redirected output never
// carries progress.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace strata::tools {

class ProgressLine {
 public:
  explicit ProgressLine(std::ostream* terminal) : terminal_(terminal) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // "<what> <percent>%"; what is UTF-8.
  void Show(std::string_view what, std::uint16_t percent) {
    if (terminal_ == nullptr) return;
    std::string line = std::string(what) + " " + std::to_string(percent) + "%";
    const std::size_t shown = line.size();
    if (line.size() < width_) line.append(width_ - line.size(), ' ');
    width_ = shown;
    *terminal_ << '\r' << line << std::flush;
  }
  void Clear() {
    if (width_ == 0) return;
    *terminal_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    width_ = 0;
  }

 private:
  std::ostream* terminal_;
  std::size_t width_ = 0;
};

}  // namespace strata::tools

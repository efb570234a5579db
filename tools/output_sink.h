// OutputSink: where an export writes, buffered. Standard output is written
// as it comes; a file is written under a temporary name in its own folder
// and takes its real name only at Commit, so a failed export leaves no
// partial file (the temporary one is removed when the sink goes without a
// Commit). Failures raise OutputError naming the file and the reason.
#pragma once

#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace strata::tools {

class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file name next to path, unique to this process, for writing before the
// final rename.
std::string TemporaryNameFor(const std::string& path);

class OutputSink {
 public:
  explicit OutputSink(std::ostream& out);
  explicit OutputSink(std::string path);
  ~OutputSink();
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  void Append(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kFlushSize) Flush();
  }
  void Append(char c) {
    buffer_ += c;
    if (buffer_.size() >= kFlushSize) Flush();
  }
  std::string& Buffer() { return buffer_; }
  // After direct appends to Buffer().
  void MaybeFlush() {
    if (buffer_.size() >= kFlushSize) Flush();
  }
  void Flush();
  // Writes the rest; a file then takes its name (replacing a file there).
  void Commit();

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;
  [[noreturn]] void Fail(const std::string& what) const;

  std::ostream* stream_ = nullptr;
  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
  std::string buffer_;
};

}  // namespace strata::tools

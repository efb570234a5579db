// OutputSink: where an export writes, buffered: a stream (standard output)
// written as it comes, or an OutputFile (output_file.h), which keeps a
// failed export from leaving a partial file where it replaces one. Failures
// raise OutputError naming the file ("standard output" for a stream) and
// the reason.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/output_file.h"

namespace strata::tools {

class OutputSink {
 public:
  explicit OutputSink(std::ostream& out);
  // path as OutputFile takes it; "-" writes to out.
  OutputSink(std::string path, std::ostream& out);
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

  std::unique_ptr<OutputFile> file_;
  std::string buffer_;
};

}  // namespace strata::tools

#include "tools/output_sink.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/process.h"

namespace strata::tools {

std::string TemporaryNameFor(const std::string& path) {
  const std::filesystem::path target(path);
  return (target.parent_path() /
          ("." + target.filename().string() + ".strata-" + platform::ThreadIdText()))
      .string();
}

OutputSink::OutputSink(std::ostream& out) : stream_(&out) {}

OutputSink::OutputSink(std::string path) : path_(std::move(path)), temporary_(TemporaryNameFor(path_)) {
  file_ = std::fopen(temporary_.c_str(), "wb");
  if (file_ == nullptr) Fail(std::strerror(errno));
}

OutputSink::~OutputSink() {
  if (file_ != nullptr) {
    std::fclose(file_);
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
  }
}

void OutputSink::Fail(const std::string& what) const {
  throw OutputError("cannot write '" + (path_.empty() ? std::string("standard output") : path_) +
                    "': " + what);
}

void OutputSink::Flush() {
  if (buffer_.empty()) return;
  if (stream_ != nullptr) {
    stream_->write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (!*stream_) Fail("the stream refused the data");
  } else if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    Fail(std::strerror(errno));
  }
  buffer_.clear();
}

void OutputSink::Commit() {
  Flush();
  if (stream_ != nullptr) {
    stream_->flush();
    return;
  }
  std::FILE* file = file_;
  file_ = nullptr;
  const bool written = std::fflush(file) == 0;
  const int error = errno;
  const bool closed = std::fclose(file) == 0;
  std::error_code code;
  if (!written || !closed) {
    std::filesystem::remove(temporary_, code);
    Fail(std::strerror(error));
  }
  std::filesystem::rename(temporary_, path_, code);
  if (code) {
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
    Fail(code.message());
  }
}

}  // namespace strata::tools

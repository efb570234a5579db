#include "tools/input_buffer.h"

#include <cerrno>
#include <cstring>

#include "tools/import_source.h"

namespace strata::tools {

InputBuffer::InputBuffer(std::string path) : path_(std::move(path)) {
  file_ = std::fopen(path_.c_str(), "rb");
  if (file_ == nullptr) {
    throw ImportError("cannot read '" + path_ + "': " + std::strerror(errno));
  }
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    fileSize_ = std::ftell(file_);
    std::rewind(file_);
  }
  data_.resize(kPiece);
  More(data_.data());
}

InputBuffer::~InputBuffer() {
  if (file_ != nullptr) std::fclose(file_);
}

const char* InputBuffer::More(const char* keep) {
  const auto kept = static_cast<std::size_t>(End() - keep);
  const auto dropped = static_cast<std::size_t>(keep - data_.data());
  if (dropped > 0) std::memmove(data_.data(), keep, kept);
  base_ += static_cast<std::int64_t>(dropped);
  size_ = kept;
  if (endOfFile_) return data_.data();
  // A row longer than the buffer makes it grow; the reading stays in
  // pieces of the same size.
  if (data_.size() - size_ < kPiece) data_.resize(size_ + kPiece);
  const std::size_t got = std::fread(data_.data() + size_, 1, kPiece, file_);
  if (got < kPiece) {
    if (std::ferror(file_) != 0) {
      throw ImportError("cannot read '" + path_ + "': " + std::strerror(errno));
    }
    endOfFile_ = true;
  }
  size_ += got;
  return data_.data();
}

std::uint16_t InputBuffer::Percent(const char* position) const {
  if (fileSize_ <= 0) return 100;
  return static_cast<std::uint16_t>(
      std::min<std::int64_t>(100, Offset(position) * 100 / fileSize_));
}

}  // namespace strata::tools

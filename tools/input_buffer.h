// InputBuffer: a text file read in large pieces for the CSV and JSON
// readers. The bytes from Start() to End() are in memory; a reader parses
// from its own position and, when a row runs past End(), asks for More(),
// which keeps the bytes from a given position on (moving them to the front)
// and appends what the file holds next. Raises ImportError naming the file
// when it cannot be opened or read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace strata::tools {

class InputBuffer {
 public:
  explicit InputBuffer(std::string path);
  ~InputBuffer();
  InputBuffer(const InputBuffer&) = delete;
  InputBuffer& operator=(const InputBuffer&) = delete;

  const std::string& Path() const { return path_; }
  const char* Start() const { return data_.data(); }
  const char* End() const { return data_.data() + size_; }
  bool AtEndOfFile() const { return endOfFile_; }

  // Keeps the bytes from `keep` on and reads more after them (nothing once
  // the file has ended); returns the new address of `keep`.
  const char* More(const char* keep);
  // Bytes of the file before `position`.
  std::int64_t Offset(const char* position) const {
    return base_ + static_cast<std::int64_t>(position - data_.data());
  }
  // Offset(position) as a share of the file, 0 to 100.
  std::uint16_t Percent(const char* position) const;

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;

  std::string path_;
  std::FILE* file_ = nullptr;
  std::vector<char> data_;
  std::size_t size_ = 0;
  std::int64_t base_ = 0;  // file offset of data_[0]
  std::int64_t fileSize_ = 0;
  bool endOfFile_ = false;
};

}  // namespace strata::tools

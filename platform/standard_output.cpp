#include "platform/standard_output.h"

#include <unistd.h>

#include <cerrno>

namespace strata::platform {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

}  // namespace

StandardOutputBuffer::StandardOutputBuffer(int fd) : fd_(fd), buffer_(kBufferSize, '\0') {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

StandardOutputBuffer::~StandardOutputBuffer() {
  if (fd_ >= 0) Drain();
}

bool StandardOutputBuffer::WriteOut(const char* data, std::size_t size) {
  while (size > 0) {
    if (error_ != 0) return false;
    const ssize_t put = ::write(fd_, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return error_ == 0;
}

bool StandardOutputBuffer::Drain() {
  const bool written = WriteOut(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return written;
}

StandardOutputBuffer::int_type StandardOutputBuffer::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int StandardOutputBuffer::sync() { return Drain() ? 0 : -1; }

std::streamsize StandardOutputBuffer::xsputn(const char* data, std::streamsize size) {
  const auto room = static_cast<std::streamsize>(epptr() - pptr());
  if (size <= room) {
    traits_type::copy(pptr(), data, static_cast<std::size_t>(size));
    pbump(static_cast<int>(size));
    return size;
  }
  // Larger than the room left: what is buffered, then the data directly.
  if (!Drain() || !WriteOut(data, static_cast<std::size_t>(size))) return 0;
  return size;
}

bool StandardOutputBuffer::Close() {
  const bool written = Drain();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && error_ == 0) error_ = errno;
  return written && error_ == 0;
}

}  // namespace strata::platform

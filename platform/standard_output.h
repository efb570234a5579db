// StandardOutput: the program's standard output as a stream buffer over
// file descriptor 1 that remembers why a write failed. std::cout goes
// through stdio, whose error number is long overwritten by the time the
// program learns of the failure; this buffer keeps the first one, so that
// "cannot write 'standard output': no space left on the device" can say
// why.
#pragma once

#include <streambuf>
#include <string>

namespace strata::platform {

class StandardOutputBuffer : public std::streambuf {
 public:
  explicit StandardOutputBuffer(int fd = 1);
  ~StandardOutputBuffer() override;
  StandardOutputBuffer(const StandardOutputBuffer&) = delete;
  StandardOutputBuffer& operator=(const StandardOutputBuffer&) = delete;

  // Writes what is buffered and closes the descriptor; false when any write
  // or the close failed (Error() then gives the first error number).
  bool Close();
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;

 private:
  bool WriteOut(const char* data, std::size_t size);
  bool Drain();

  int fd_;
  int error_ = 0;
  std::string buffer_;
};

}  // namespace strata::platform

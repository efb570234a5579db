// EConvertError: a value text that cannot be read, or a value that cannot be
// written as text. It is the framework's conversion error, not an engine
// error; callers that need an engine error translate it.
#pragma once

#include <exception>
#include <string>

namespace strata {

class EConvertError : public std::exception {
 public:
  explicit EConvertError(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace strata

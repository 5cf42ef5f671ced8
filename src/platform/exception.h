// The exception family every layer raises: Exception (class name and message),
// and EConvertError for failed text-to-number conversions.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tarn {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {}) : message_(std::move(message)) {}
  ~Exception() override = default;

  virtual const char* ClassName() const noexcept { return "Exception"; }
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

}  // namespace tarn

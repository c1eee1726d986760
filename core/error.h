#pragma once
// The system's failures: an exception that carries the German message the user sees unchanged,
// and the operating system's error number where there is one.

#include <cstdint>
#include <exception>
#include <string>

#include "core/text.h"

namespace korvex {

class KorError : public std::exception {
 public:
  explicit KorError(Text message, std::uint32_t osCode = 0);

  const Text& Message() const noexcept { return message_; }
  std::uint32_t OsCode() const noexcept { return osCode_; }
  // The name of the failure's kind, as shown by a top-level error box.
  virtual const char* Kind() const noexcept { return "Exception"; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  Text message_;
  std::uint32_t osCode_;
  std::string utf8_;
};

// A failed operating-system call.
class OsError : public KorError {
 public:
  using KorError::KorError;
  const char* Kind() const noexcept override { return "EOSError"; }
};

}  // namespace korvex

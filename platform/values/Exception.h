// Exception: a named exception {name, reason} for programming errors only
// (everything else is an Error value). what() returns the reason.
//
// Thread safety: an Exception is an immutable value once thrown.
#pragma once

#include <exception>
#include <string>

namespace platform {

struct Exception : std::exception {
  static constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
  static constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
  static constexpr const char* kRangeException = "NSRangeException";

  std::string name;
  std::string reason;

  Exception(std::string name, std::string reason);
  const char* what() const noexcept override;

  [[noreturn]] static void raise(std::string name, std::string reason);
  // An internal-inconsistency exception with reason
  // "Invalid parameter not satisfying: " + condition.
  [[noreturn]] static void invalidParameter(const std::string& condition);
};

}  // namespace platform

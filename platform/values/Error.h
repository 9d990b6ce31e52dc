// Error: a failure as a value, {domain, code, userInfo}.
//
// Errors are values: copying an Error deep-copies its userInfo, so one
// holder adding a key never changes another holder's error. The underlying
// error is kept in userInfo under "NSUnderlyingError" as an immutable shared
// payload.
//
// localizedDescription() has one rule, used everywhere: the string under
// "NSLocalizedDescription" when present, else
// "The operation couldn’t be completed. (<domain> error <code>.)".
//
// Result<T> holds either a T or an Error, for operations that produce a value
// or fail; operations with no value return std::optional<Error>.
//
// Thread safety: as for Value: const use from several threads is fine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "platform/values/Value.h"

namespace platform {

struct Error {
  static constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
  static constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
  static constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

  std::string domain;
  int64_t code = 0;
  Dictionary userInfo;

  Error();
  Error(std::string domain, int64_t code, Dictionary userInfo = {});
  Error(const Error& other);                // deep-copies userInfo
  Error& operator=(const Error& other);
  Error(Error&&) noexcept = default;
  Error& operator=(Error&&) noexcept = default;
  ~Error() = default;

  // An error whose userInfo holds `description` under "NSLocalizedDescription"
  // (nothing when the description is empty).
  static Error make(std::string domain, int64_t code, std::string description = {});

  std::string localizedDescription() const;
  // The string under "NSLocalizedFailureReason", if any.
  std::optional<std::string> failureReason() const;
  // The error stored under "NSUnderlyingError", if any.
  std::optional<Error> underlying() const;

  // Builders; each returns *this for chaining.
  Error& setUnderlying(const Error& error);
  Error& setFailureReason(std::string reason);
  Error& setUserInfo(std::string key, Value value);

  // Log text: Error Domain=<domain> Code=<code> "<localized description>"
  // followed by " UserInfo=<description of userInfo>" when it is not empty.
  std::string description() const;

  // Same domain, code and (deeply) equal userInfo.
  friend bool operator==(const Error& a, const Error& b);
};

// Either a value or an error.
template <typename T>
class Result {
 public:
  Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return m_state.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Preconditions: ok() for value(), !ok() for error(); otherwise throws
  // std::bad_variant_access.
  T& value() & { return std::get<0>(m_state); }
  const T& value() const& { return std::get<0>(m_state); }
  T&& value() && { return std::get<0>(std::move(m_state)); }
  const Error& error() const { return std::get<1>(m_state); }

  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }
  std::optional<Error> errorOrNone() const {
    return ok() ? std::nullopt : std::optional<Error>(error());
  }

 private:
  std::variant<T, Error> m_state;
};

}  // namespace platform

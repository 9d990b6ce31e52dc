// APMPError: the error slot of the script runtime.
//
// Every operation of the interpreter that can fail takes an APMPError& and
// sets it on failure; the operation then yields undefined (or its documented
// fallback) and every caller stops at the first error and passes it on
// unchanged. An error is a domain and an integer code without user info,
// except errors handed through from the platform (a regular expression's).
//
// The codes of the runtime domain are named in APMPErrorCode; the editing
// layer has its own domain and codes (APMPEditingErrorCode).
//
// Thread safety: a plain value; one thread at a time.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/values/Error.h"

inline constexpr const char* kAPMPErrorDomain = "com.zoruvu.vod.measurement.pixie.ErrorDomain";
inline constexpr const char* kAPMPEditingErrorDomain = "com.zoruvu.vod.measurement.pixie.editing.ErrorDomain";

// Codes of kAPMPErrorDomain (1 and 19 and above are not used).
enum APMPErrorCode : int64_t {
  kAPMPErrorUndeclaredName = 2,       // assignment to a name no enclosing scope declares
  kAPMPErrorNoBooleanValue = 3,       // a value without a boolean form
  kAPMPErrorNoNumberValue = 4,        // a value without a number form
  kAPMPErrorNoStringValue = 5,        // a value without a string form
  kAPMPErrorPropertyOfNothing = 6,    // property assignment on null or undefined
  kAPMPErrorMethodOfNothing = 7,      // method call on null or undefined
  kAPMPErrorEmptyReduction = 8,       // reducing nothing without a starting value
  kAPMPErrorArgumentCount = 9,        // wrong number of arguments
  kAPMPErrorArgumentKind = 10,        // an argument of the wrong kind, or a result too large
  kAPMPErrorInvalidLength = 11,       // an array length that is no non-negative integer (or too large)
  kAPMPErrorInvalidEntity = 12,       // a program node of an unknown kind, or nested too deep
  kAPMPErrorNoRuntimeValue = 13,      // a platform object without a runtime value
  kAPMPErrorMissingCommandName = 14,  // a statement node without its command name
  kAPMPErrorModuleNotCreated = 15,    // a module creator that returned nothing
  kAPMPErrorNotIterable = 16,         // a value loop over something that is no string or array
  kAPMPErrorUnknownMethod = 17,       // a method the value does not have
  kAPMPErrorLimitReached = 18,        // the evaluation budget or the nesting limit reached
};

// Codes of kAPMPEditingErrorDomain.
enum APMPEditingErrorCode : int64_t {
  kAPMPEditingErrorMissingType = 2,       // callback options without "type"
  kAPMPEditingErrorUnknownType = 3,       // a type that is neither "create" nor "edit"
  kAPMPEditingErrorTooManyCallbacks = 4,  // more than 1000 callbacks in all
  kAPMPEditingErrorControlAtTopLevel = 5, // a program's statements end in a control value
  kAPMPEditingErrorRuleNotMap = 6,        // an activity rule that is not a map
  kAPMPEditingErrorRuleHandlerMissing = 7 // an activity naming no function of the run scope
};

class APMPError {
 public:
  explicit operator bool() const { return m_error.has_value(); }
  bool isSet() const { return m_error.has_value(); }

  // Runtime-domain and editing-domain errors.
  void set(APMPErrorCode code) { m_error.emplace(kAPMPErrorDomain, code); }
  void setEditing(APMPEditingErrorCode code) { m_error.emplace(kAPMPEditingErrorDomain, code); }
  // An error handed through from elsewhere.
  void set(platform::Error error) { m_error = std::move(error); }
  void clear() { m_error.reset(); }

  // Precondition: isSet().
  const platform::Error& error() const { return *m_error; }
  // The code, 0 when no error is set.
  int64_t code() const { return m_error ? m_error->code : 0; }
  const std::optional<platform::Error>& optionalError() const { return m_error; }

 private:
  std::optional<platform::Error> m_error;
};

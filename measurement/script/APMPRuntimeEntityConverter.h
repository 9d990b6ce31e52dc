// APMPRuntimeEntityConverter: program entities to runtime values, and runtime
// values to and from plain platform values.
//
// Entities (RuntimeEntity messages): kind 1 string literal (text, "" when
// absent), 2 number literal (NaN when absent), 3 boolean literal (false when
// absent), 4 statement (its command name is required, error 14; its
// arguments are converted in order, the first error stops). Any other kind
// fails with error 12, as does a tree nested deeper than kMaxDepth. Entity
// texts that are not UTF-8 read with U+FFFD in place of the bad bytes.
//
// runtimeValueFromNSObject: null -> null; string -> string; a bool or 8-bit
// number -> boolean; another number -> number (its double); a dictionary ->
// a new map, an array -> a new array (both made through the scope's object
// manager, entries converted in turn); anything else fails with error 13,
// and so does nesting deeper than kMaxDepth.
//
// objectFromRuntimeValue: null -> nothing (a null Value); undefined -> "";
// a map -> a dictionary of its properties (properties that convert to
// nothing are left out); an array -> an array of its elements (holes read as
// undefined, so ""; elements that convert to nothing are left out); any
// other value -> its number when that is not NaN (a double), else its text.
// A value met again inside itself (a cycle), or nesting deeper than
// kMaxDepth, fails with error 10. The first error stops the conversion.
#pragma once

#include <cstdint>
#include <optional>

#include "measurement/script/APMPRuntimeValue.h"
#include "platform/values/Value.h"

class APMPMapValue;
class APMPScope;
class NANOMessageBase;

class APMPRuntimeEntityConverter {
 public:
  static constexpr int kMaxDepth = 1000;

  // RuntimeEntity kinds; any other is refused.
  static constexpr int32_t kStringKind = 1;
  static constexpr int32_t kNumberKind = 2;
  static constexpr int32_t kBooleanKind = 3;
  static constexpr int32_t kStatementKind = 4;

  static APMPValuePtr runtimeValueFromRuntimeEntity(const NANOMessageBase& entity, APMPError& error);
  static APMPValuePtr stringValueFromRuntimeEntity(const NANOMessageBase& entity);
  static APMPValuePtr numberValueFromRuntimeEntity(const NANOMessageBase& entity);
  static APMPValuePtr booleanValueFromRuntimeEntity(const NANOMessageBase& entity);
  static APMPValuePtr statementValueFromRuntimeEntity(const NANOMessageBase& entity, APMPError& error);

  static APMPValuePtr runtimeValueFromNSObject(const platform::Value& object, const APMPScope& scope,
                                               APMPError& error);
  static platform::Value objectFromRuntimeValue(const APMPValuePtr& value, APMPError& error);
  // The entries converted before an error are kept.
  static platform::Dictionary dictionaryFromMapValue(const APMPMapValue& map, APMPError& error);
};

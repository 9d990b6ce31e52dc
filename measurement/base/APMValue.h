// APMValue: the typed value of an event parameter, user property or
// conditional property: kind 0 double, 1 signed 64-bit integer, 2 string,
// 3 array (of parameter dictionaries: name -> APMValue, see toObject()).
//
// Immutable once made and shared as std::shared_ptr<const APMValue>; the
// analytics front may derive from it without adding state. Construction that
// the original answers with nil answers nullptr here and reports to the
// monitor (codes 35000-35005, level 0). Equality holds only when the other
// value is exactly an APMValue (never a subclass), of the same kind, holding
// an equal object; an int64 3 and a double 3.0 differ. hash() is
// (kind * 31) XOR the stored object's hash.
//
// Inside platform::Value trees an APMValue travels as an opaque payload:
// toObject() wraps it, fromObject() unwraps it.
//
// Thread safety: immutable; share freely.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/values/Value.h"

class APMValue;
using APMValuePtr = std::shared_ptr<const APMValue>;

class APMValue {
 public:
  enum : int64_t { kDouble = 0, kInt64 = 1, kString = 2, kArray = 3 };

  // Stores both without checks.
  APMValue(int64_t valueType, platform::Value value);
  virtual ~APMValue() = default;

  static APMValuePtr initWithDouble(double value);
  static APMValuePtr initWithInt64(int64_t value);
  // A string value (nullptr and 35002 / 35003 for null or a non-string).
  static APMValuePtr initWithString(const platform::Value& value);
  // An array value of copies of the elements (nullptr and 35004 / 35005).
  static APMValuePtr initWithArray(const platform::Value& value);
  // null: 35000; an APMValue payload: itself; a string; a floating number:
  // double; any other number or bool: int64; an array only when allowed;
  // anything else: 35001.
  static APMValuePtr valueFromObject(const platform::Value& object, bool allowArray = false);

  int64_t valueType() const { return m_valueType; }
  bool isDouble() const { return m_valueType == kDouble; }
  bool isInt64() const { return m_valueType == kInt64; }
  bool isString() const { return m_valueType == kString; }
  bool isArray() const { return m_valueType == kArray; }
  // The stored value for its own kind; 0, 0, "" / none, none otherwise.
  double doubleValue() const;
  int64_t int64Value() const;
  std::optional<std::string> stringValue() const;
  std::optional<platform::Array> arrayValue() const;
  const platform::Value& value() const { return m_value; }

  std::string description() const;
  // A value of the same kind sharing the stored object.
  APMValuePtr copy() const;
  bool isEqual(const APMValue& other) const;
  size_t hash() const;
  // Only the exact class; subclasses override it.
  virtual const char* className() const { return "APMValue"; }

  static platform::Value toObject(APMValuePtr value);
  // A new value of the kind, already in toObject form.
  static platform::Value objectWithDouble(double value);
  static platform::Value objectWithInt64(int64_t value);
  static platform::Value objectWithString(std::string value);
  // The description of a value tree as the platform prints it, with
  // APMValue payloads shown by their own description (a top-level string is
  // itself, nested strings are quoted).
  static std::string descriptionOfObject(const platform::Value& object);
  static APMValuePtr fromObject(const platform::Value& object);

  friend bool operator==(const APMValue& a, const APMValue& b) { return a.isEqual(b); }

 private:
  const int64_t m_valueType;
  const platform::Value m_value;
};

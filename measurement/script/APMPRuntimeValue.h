// APMPRuntimeValue: the base of every value the script interpreter handles.
//
// Kinds: undefined, null, boolean, number, string, array, map and function,
// plus the internal statement and control values and the array hole. Each
// kind answers the three conversions (string, number, boolean), a method call
// (applyWithName) and structural equality; the kinds that can hold other
// values (arrays, maps, functions, statements) also report what they hold to
// the collector (markReferences) and let go of it when swept.
//
// Values are shared through APMPValuePtr. Scalars are immutable; undefined,
// null, both booleans, the hole and the break and continue values are
// process-wide singletons, created once on first use (thread-safe) and never
// changed, so runtimes on different queues may share them. Everything else
// belongs to one runtime and is used from one thread at a time.
//
// Text is UTF-16 (std::u16string): indices and lengths count UTF-16 units.
// No result text is longer than kMaxStringLength units and no array holds
// more than kMaxArrayLength elements: larger results fail with error 10 (11
// for an array length), so one step cannot take unbounded memory.
//
// Failure: an operation that fails sets the APMPError and yields its
// documented fallback (undefined, "", NaN or false); callers stop there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/script/APMPError.h"

class APMPRuntimeValue;
class APMPScope;
class APMPMarker;

using APMPValuePtr = std::shared_ptr<APMPRuntimeValue>;
using APMPValueList = std::vector<APMPValuePtr>;
using APMPScopePtr = std::shared_ptr<APMPScope>;

enum class APMPValueKind : uint8_t {
  Undefined,
  Null,
  Boolean,
  Number,
  String,
  Array,
  Map,
  Function,
  Statement,
  Control,
  Hole,
};

class APMPRuntimeValue {
 public:
  // Bounds of one value.
  static constexpr size_t kMaxStringLength = 1048576;
  static constexpr size_t kMaxArrayLength = 1000000;

  explicit APMPRuntimeValue(APMPValueKind kind) : m_kind(kind) {}
  virtual ~APMPRuntimeValue() = default;
  APMPRuntimeValue(const APMPRuntimeValue&) = delete;
  APMPRuntimeValue& operator=(const APMPRuntimeValue&) = delete;

  APMPValueKind kind() const { return m_kind; }
  bool isUndefined() const { return m_kind == APMPValueKind::Undefined; }
  bool isNull() const { return m_kind == APMPValueKind::Null; }
  // Undefined or null.
  bool isNothing() const { return m_kind == APMPValueKind::Undefined || m_kind == APMPValueKind::Null; }
  bool isString() const { return m_kind == APMPValueKind::String; }
  bool isNumber() const { return m_kind == APMPValueKind::Number; }
  bool isArray() const { return m_kind == APMPValueKind::Array; }
  bool isMap() const { return m_kind == APMPValueKind::Map; }
  bool isFunction() const { return m_kind == APMPValueKind::Function; }
  bool isStatement() const { return m_kind == APMPValueKind::Statement; }
  bool isControl() const { return m_kind == APMPValueKind::Control; }
  bool isHole() const { return m_kind == APMPValueKind::Hole; }
  // Array, function, map or string.
  bool isObjectLike() const {
    return m_kind == APMPValueKind::Array || m_kind == APMPValueKind::Function || m_kind == APMPValueKind::Map ||
           m_kind == APMPValueKind::String;
  }
  // Array, map or function: the kinds the object manager tracks.
  bool isCollectable() const {
    return m_kind == APMPValueKind::Array || m_kind == APMPValueKind::Map || m_kind == APMPValueKind::Function;
  }

  // The hole of arrays: one shared plain value without conversions.
  static const APMPValuePtr& emptyValue();

  // Conversions. Base: errors 5, 4 and 3 with "", NaN and false.
  virtual std::u16string stringValueOrError(APMPError& error) const;
  virtual double doubleValueOrError(APMPError& error) const;
  virtual bool booleanValueOrError(APMPError& error) const;

  // A method call with unevaluated argument statements, evaluated in the
  // caller's scope by the method. Base: "toString" gives the string
  // conversion; any other name fails with error 17.
  virtual APMPValuePtr applyWithName(const std::u16string& name, const APMPValueList& arguments,
                                     const APMPScopePtr& scope, APMPError& error);

  // Structural equality: scalars by kind and value (NaN equals NaN), arrays
  // element by element, maps by property names and values, statements by
  // command and arguments, control values by type and data, anything else by
  // identity. A pair met again while it is being compared counts as equal,
  // so cyclic values compare without end; nesting does not use the stack.
  bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const;

  // Collection. markReferences hands every value and scope this value holds
  // to the marker; dropReferences lets go of them (a swept value is inert).
  virtual void markReferences(APMPMarker& marker) const;
  virtual void dropReferences();
  // Whether the value was marked in the given collection; setMarked answers
  // NO when it already was.
  bool isMarked(uint32_t epoch) const { return m_markEpoch == epoch; }
  bool setMarked(uint32_t epoch) {
    if (m_markEpoch == epoch) return false;
    m_markEpoch = epoch;
    return true;
  }

 private:
  const APMPValueKind m_kind;
  uint32_t m_markEpoch = 0;
};

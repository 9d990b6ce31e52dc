// APMPArrayValue: an ordered list of values with holes, plus named
// properties.
//
// Elements are indexed 0..count-1; a hole is a slot without a value (the
// shared emptyValue), made by growing the array past its end or removing an
// element. Keys: the string "length" is the count; a key passing the
// array-index test (a number or string whose number is finite, integral and
// not negative) is an element index; any other key is converted to a string
// and names a property.
//
// Slots are charged to the evaluating runtime's memory budget as they are
// made. Bounds: at most kMaxArrayLength elements. Storing at a larger index, or
// growing past it in any other way, fails with error 10; setting a larger
// "length" fails with error 11, as does a length that is no array index.
//
// Text form: the elements joined with "," (stringValueWithSeparator): holes,
// undefined and null contribute nothing, an array met again while its own
// text is being made (a cycle) contributes nothing too, and nesting does not
// use the native stack. A statement or control value inside fails the whole
// conversion with error 5.
//
// Thread safety: one thread at a time (the runtime's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/script/APMPPropertyMap.h"
#include "measurement/script/APMPRuntimeValue.h"

class APMPFunctionValue;

class APMPArrayValue final : public APMPRuntimeValue, public std::enable_shared_from_this<APMPArrayValue> {
 public:
  APMPArrayValue() : APMPRuntimeValue(APMPValueKind::Array) {}
  explicit APMPArrayValue(APMPValueList elements);
  ~APMPArrayValue() override;

  size_t count() const { return m_elements.size(); }
  // The slots as stored, holes included.
  const APMPValueList& elements() const { return m_elements; }
  bool isHoleAt(size_t index) const { return index >= m_elements.size() || m_elements[index]->isHole(); }
  // The element at the index; undefined for a hole or past the end.
  APMPValuePtr elementAt(size_t index) const;
  // A copy of the elements with holes as undefined.
  APMPValueList allElements() const;

  // The array-index test: the index a key names, none for other keys.
  static std::optional<double> arrayIndex(const APMPRuntimeValue& key);

  APMPValuePtr valueForProperty(const APMPValuePtr& key, APMPError& error) const;
  // NO with error 10 or 11 (see above), or a conversion error of the key.
  bool setValueForProperty(APMPValuePtr value, const APMPValuePtr& key, APMPError& error);
  // Growing appends holes, shrinking drops the tail. NO with error 11 past
  // kMaxArrayLength.
  bool setLength(size_t length, APMPError& error);
  void removeValueForProperty(const APMPValuePtr& key, APMPError& error);
  bool hasProperty(const APMPValuePtr& key, APMPError& error) const;
  // Named properties (in the order they were first set), then the indices of
  // the slots that are no holes, ascending, as string values.
  APMPValueList allPropertyNames() const;
  const APMPPropertyMap* properties() const { return m_properties.get(); }

  // The elements of [start, start + length), both clamped into the array.
  APMPValueList elementsInRange(int64_t start, int64_t length) const;
  // Removes the clamped run and inserts the values at start; the removed
  // elements. Error 10 when the result would be too long (nothing changes).
  APMPValueList spliceFrom(int64_t start, int64_t deleteCount, const APMPValueList& values, APMPError& error);
  // Appends a value, or every element (holes kept) of an array. A control
  // value fails with error 10, as does a result that would be too long.
  bool concat(const APMPValuePtr& value, APMPError& error);
  void reverse();
  // The removed element (undefined for a hole or an empty array).
  APMPValuePtr removeFirstElement();
  APMPValuePtr removeLastElement();
  // The new count, or none with error 10 when it would be too long.
  std::optional<size_t> appendElements(const APMPValueList& values, APMPError& error);
  std::optional<size_t> prependElements(const APMPValueList& values, APMPError& error);
  // Strict equality from / backwards to the index; -1 when absent.
  int64_t indexOfValue(const APMPRuntimeValue& value, int64_t fromIndex) const;
  int64_t lastIndexOfValue(const APMPRuntimeValue& value, int64_t fromIndex) const;
  // Sorts in place: defined values first (by the comparator's sign, or by
  // their text without one), then undefined, then holes. The comparator's
  // first error is kept, later comparisons answer "equal", and the error is
  // reported once the sort ends. Safe with comparators that are not
  // consistent and with callbacks that change the array.
  bool sortUsingFunctionValue(const std::shared_ptr<APMPFunctionValue>& comparator, const APMPScopePtr& scope,
                              APMPError& error);
  std::u16string stringValueWithSeparator(const std::u16string& separator, APMPError& error) const;

  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;
  APMPValuePtr applyWithName(const std::u16string& name, const APMPValueList& arguments, const APMPScopePtr& scope,
                             APMPError& error) override;
  void markReferences(APMPMarker& marker) const override;
  void dropReferences() override;

 private:
  APMPPropertyMap& propertyMap();
  // Charges new slots to the evaluating runtime's memory budget.
  static void grew(size_t slots);

  APMPValueList m_elements;
  std::unique_ptr<APMPPropertyMap> m_properties;  // made on first use
};

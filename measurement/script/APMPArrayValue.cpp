#include "measurement/script/APMPArrayValue.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "measurement/script/APMPArrayCommandEvaluator.h"
#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPMemoryCharge.h"
#include "measurement/script/internal/APMPRelease.h"

namespace {

bool isLengthKey(const APMPRuntimeValue& key) {
  return key.isString() && static_cast<const APMPStringValue&>(key).value() == u"length";
}

// [start, start + length) clamped into [0, count).
std::pair<size_t, size_t> clampRange(int64_t start, int64_t length, size_t count) {
  const auto total = static_cast<int64_t>(count);
  const int64_t first = std::clamp<int64_t>(start, 0, total);
  const int64_t size = std::clamp<int64_t>(length, 0, total - first);
  return {static_cast<size_t>(first), static_cast<size_t>(size)};
}

}  // namespace

APMPArrayValue::APMPArrayValue(APMPValueList elements)
    : APMPRuntimeValue(APMPValueKind::Array), m_elements(std::move(elements)) {
  grew(m_elements.size());
}

APMPArrayValue::~APMPArrayValue() { APMPReleaseLater(m_elements); }

void APMPArrayValue::grew(size_t slots) { APMPChargeMemory(slots * sizeof(APMPValuePtr)); }

APMPPropertyMap& APMPArrayValue::propertyMap() {
  if (!m_properties) m_properties = std::make_unique<APMPPropertyMap>();
  return *m_properties;
}

APMPValuePtr APMPArrayValue::elementAt(size_t index) const {
  if (index >= m_elements.size() || m_elements[index]->isHole()) return APMPUndefined();
  return m_elements[index];
}

APMPValueList APMPArrayValue::allElements() const {
  APMPValueList elements = m_elements;
  for (APMPValuePtr& element : elements) {
    if (element->isHole()) element = APMPUndefined();
  }
  return elements;
}

std::optional<double> APMPArrayValue::arrayIndex(const APMPRuntimeValue& key) {
  if (!key.isNumber() && !key.isString()) return std::nullopt;
  APMPError ignored;
  const double number = key.doubleValueOrError(ignored);
  if (!std::isfinite(number) || number != std::trunc(number) || number < 0) return std::nullopt;
  return number == 0 ? 0.0 : number;
}

APMPValuePtr APMPArrayValue::valueForProperty(const APMPValuePtr& key, APMPError& error) const {
  if (isLengthKey(*key)) return APMPNumber(static_cast<double>(m_elements.size()));
  if (std::optional<double> index = arrayIndex(*key)) {
    return *index < static_cast<double>(m_elements.size()) ? elementAt(static_cast<size_t>(*index)) : APMPUndefined();
  }
  const std::u16string name = key->stringValueOrError(error);
  if (error) return APMPUndefined();
  return m_properties ? m_properties->valueForName(name) : APMPUndefined();
}

bool APMPArrayValue::setValueForProperty(APMPValuePtr value, const APMPValuePtr& key, APMPError& error) {
  if (isLengthKey(*key)) {
    const std::optional<double> length = arrayIndex(*value);
    if (!length || *length > static_cast<double>(kMaxArrayLength)) {
      error.set(kAPMPErrorInvalidLength);
      return false;
    }
    return setLength(static_cast<size_t>(*length), error);
  }
  if (std::optional<double> index = arrayIndex(*key)) {
    if (*index >= static_cast<double>(kMaxArrayLength)) {
      error.set(kAPMPErrorArgumentKind);
      return false;
    }
    const auto at = static_cast<size_t>(*index);
    if (at >= m_elements.size()) {
      grew(at + 1 - m_elements.size());
      m_elements.resize(at + 1, emptyValue());
    }
    APMPValuePtr previous = std::move(m_elements[at]);
    m_elements[at] = std::move(value);
    APMPReleaseLater(previous);
    return true;
  }
  const std::u16string name = key->stringValueOrError(error);
  if (error) return false;
  propertyMap().setValue(std::move(value), name);
  return true;
}

bool APMPArrayValue::setLength(size_t length, APMPError& error) {
  if (length > kMaxArrayLength) {
    error.set(kAPMPErrorInvalidLength);
    return false;
  }
  if (length < m_elements.size()) {
    APMPValueList tail(std::make_move_iterator(m_elements.begin() + static_cast<ptrdiff_t>(length)),
                       std::make_move_iterator(m_elements.end()));
    m_elements.resize(length);
    APMPReleaseLater(tail);
  } else {
    grew(length - m_elements.size());
    m_elements.resize(length, emptyValue());
  }
  return true;
}

void APMPArrayValue::removeValueForProperty(const APMPValuePtr& key, APMPError& error) {
  if (std::optional<double> index = arrayIndex(*key)) {
    if (*index < static_cast<double>(m_elements.size())) {
      APMPValuePtr previous = std::move(m_elements[static_cast<size_t>(*index)]);
      m_elements[static_cast<size_t>(*index)] = emptyValue();
      APMPReleaseLater(previous);
    }
    return;
  }
  const std::u16string name = key->stringValueOrError(error);
  if (error) return;
  if (m_properties) m_properties->removeValueForName(name);
}

bool APMPArrayValue::hasProperty(const APMPValuePtr& key, APMPError& error) const {
  if (std::optional<double> index = arrayIndex(*key)) {
    if (*index < static_cast<double>(m_elements.size())) return !m_elements[static_cast<size_t>(*index)]->isHole();
  }
  const std::u16string name = key->stringValueOrError(error);
  if (error) return false;
  return m_properties && m_properties->hasName(name);
}

APMPValueList APMPArrayValue::allPropertyNames() const {
  APMPValueList names;
  if (m_properties) {
    m_properties->forEach([&](const std::u16string& name, const APMPValuePtr&) { names.push_back(APMPString(name)); });
  }
  for (size_t i = 0; i < m_elements.size(); ++i) {
    if (!m_elements[i]->isHole()) names.push_back(APMPString(APMPNumberValue::u16StringFromDouble(double(i))));
  }
  return names;
}

APMPValueList APMPArrayValue::elementsInRange(int64_t start, int64_t length) const {
  const auto [first, size] = clampRange(start, length, m_elements.size());
  return APMPValueList(m_elements.begin() + static_cast<ptrdiff_t>(first),
                       m_elements.begin() + static_cast<ptrdiff_t>(first + size));
}

APMPValueList APMPArrayValue::spliceFrom(int64_t start, int64_t deleteCount, const APMPValueList& values,
                                         APMPError& error) {
  const auto [first, size] = clampRange(start, deleteCount, m_elements.size());
  if (m_elements.size() - size + values.size() > kMaxArrayLength) {
    error.set(kAPMPErrorArgumentKind);
    return {};
  }
  const auto begin = m_elements.begin() + static_cast<ptrdiff_t>(first);
  APMPValueList removed(begin, begin + static_cast<ptrdiff_t>(size));
  m_elements.erase(begin, begin + static_cast<ptrdiff_t>(size));
  grew(values.size());
  m_elements.insert(m_elements.begin() + static_cast<ptrdiff_t>(first), values.begin(), values.end());
  return removed;
}

bool APMPArrayValue::concat(const APMPValuePtr& value, APMPError& error) {
  if (value->isControl()) {
    error.set(kAPMPErrorArgumentKind);
    return false;
  }
  if (value->isArray()) {
    // A copy first: the array may be this one.
    const APMPValueList added = static_cast<const APMPArrayValue&>(*value).m_elements;
    if (m_elements.size() + added.size() > kMaxArrayLength) {
      error.set(kAPMPErrorArgumentKind);
      return false;
    }
    grew(added.size());
    m_elements.insert(m_elements.end(), added.begin(), added.end());
    return true;
  }
  if (m_elements.size() + 1 > kMaxArrayLength) {
    error.set(kAPMPErrorArgumentKind);
    return false;
  }
  grew(1);
  m_elements.push_back(value);
  return true;
}

void APMPArrayValue::reverse() { std::reverse(m_elements.begin(), m_elements.end()); }

APMPValuePtr APMPArrayValue::removeFirstElement() {
  if (m_elements.empty()) return APMPUndefined();
  APMPValuePtr first = std::move(m_elements.front());
  m_elements.erase(m_elements.begin());
  return first->isHole() ? APMPUndefined() : first;
}

APMPValuePtr APMPArrayValue::removeLastElement() {
  if (m_elements.empty()) return APMPUndefined();
  APMPValuePtr last = std::move(m_elements.back());
  m_elements.pop_back();
  return last->isHole() ? APMPUndefined() : last;
}

std::optional<size_t> APMPArrayValue::appendElements(const APMPValueList& values, APMPError& error) {
  if (m_elements.size() + values.size() > kMaxArrayLength) {
    error.set(kAPMPErrorArgumentKind);
    return std::nullopt;
  }
  grew(values.size());
  m_elements.insert(m_elements.end(), values.begin(), values.end());
  return m_elements.size();
}

std::optional<size_t> APMPArrayValue::prependElements(const APMPValueList& values, APMPError& error) {
  if (m_elements.size() + values.size() > kMaxArrayLength) {
    error.set(kAPMPErrorArgumentKind);
    return std::nullopt;
  }
  grew(values.size());
  m_elements.insert(m_elements.begin(), values.begin(), values.end());
  return m_elements.size();
}

int64_t APMPArrayValue::indexOfValue(const APMPRuntimeValue& value, int64_t fromIndex) const {
  for (size_t i = static_cast<size_t>(std::max<int64_t>(fromIndex, 0)); i < m_elements.size(); ++i) {
    if (APMPStrictEquals(*m_elements[i], value)) return static_cast<int64_t>(i);
  }
  return -1;
}

int64_t APMPArrayValue::lastIndexOfValue(const APMPRuntimeValue& value, int64_t fromIndex) const {
  if (fromIndex < 0 || m_elements.empty()) return -1;
  size_t i = std::min(static_cast<size_t>(fromIndex), m_elements.size() - 1) + 1;
  while (i-- > 0) {
    if (APMPStrictEquals(*m_elements[i], value)) return static_cast<int64_t>(i);
  }
  return -1;
}

bool APMPArrayValue::sortUsingFunctionValue(const std::shared_ptr<APMPFunctionValue>& comparator,
                                            const APMPScopePtr& scope, APMPError& error) {
  // Defined values are sorted apart from a snapshot (the comparator may
  // change the array meanwhile); undefined values and holes follow them.
  APMPValueList defined;
  size_t undefinedCount = 0;
  size_t holeCount = 0;
  for (const APMPValuePtr& element : m_elements) {
    if (element->isHole()) {
      ++holeCount;
    } else if (element->isUndefined()) {
      ++undefinedCount;
    } else {
      defined.push_back(element);
    }
  }

  APMPError firstError;
  // Whether a goes after b; every comparison after the first error answers
  // "equal".
  auto after = [&](const APMPValuePtr& a, const APMPValuePtr& b) -> bool {
    if (firstError) return false;
    if (comparator) {
      APMPValuePtr result = comparator->invokeWithArguments({a, b}, scope, firstError);
      if (firstError) return false;
      const double order = result->doubleValueOrError(firstError);
      return !firstError && order > 0;
    }
    const std::u16string x = a->stringValueOrError(firstError);
    if (firstError) return false;
    const std::u16string y = b->stringValueOrError(firstError);
    return !firstError && x.compare(y) > 0;
  };

  // Bottom-up merge sort: stable, and safe with any comparator.
  APMPValueList buffer(defined.size());
  for (size_t width = 1; width < defined.size(); width *= 2) {
    for (size_t low = 0; low < defined.size(); low += 2 * width) {
      const size_t middle = std::min(low + width, defined.size());
      const size_t high = std::min(low + 2 * width, defined.size());
      size_t left = low;
      size_t right = middle;
      size_t out = low;
      while (left < middle && right < high) {
        buffer[out++] = after(defined[left], defined[right]) ? defined[right++] : defined[left++];
      }
      while (left < middle) buffer[out++] = defined[left++];
      while (right < high) buffer[out++] = defined[right++];
    }
    defined.swap(buffer);
  }

  APMPValueList sorted = std::move(defined);
  sorted.insert(sorted.end(), undefinedCount, APMPUndefined());
  sorted.insert(sorted.end(), holeCount, emptyValue());
  APMPValueList previous = std::move(m_elements);
  m_elements = std::move(sorted);
  APMPReleaseLater(previous);
  if (firstError) {
    error = firstError;
    return false;
  }
  return true;
}

std::u16string APMPArrayValue::stringValueWithSeparator(const std::u16string& separator, APMPError& error) const {
  static const std::u16string kComma = u",";
  struct Frame {
    const APMPArrayValue* array;
    size_t index;
    const std::u16string* separator;
  };
  std::u16string text;
  std::vector<Frame> frames{{this, 0, &separator}};
  std::unordered_set<const APMPArrayValue*> active{this};
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.index >= frame.array->m_elements.size()) {
      active.erase(frame.array);
      frames.pop_back();
      continue;
    }
    const size_t index = frame.index++;
    if (index > 0) text += *frame.separator;
    const APMPRuntimeValue& element = *frame.array->m_elements[index];
    if (element.isHole() || element.isNothing()) {
      // Nothing for holes, undefined and null.
    } else if (element.isArray()) {
      const auto* nested = static_cast<const APMPArrayValue*>(&element);
      // An array met again inside its own text (a cycle) adds nothing.
      if (active.insert(nested).second) frames.push_back({nested, 0, &kComma});
    } else {
      text += element.stringValueOrError(error);
      if (error) return {};
    }
    if (text.size() > kMaxStringLength) {
      error.set(kAPMPErrorArgumentKind);
      return {};
    }
  }
  return text;
}

std::u16string APMPArrayValue::stringValueOrError(APMPError& error) const {
  return stringValueWithSeparator(u",", error);
}

double APMPArrayValue::doubleValueOrError(APMPError& error) const {
  const std::u16string text = stringValueOrError(error);
  if (error) return std::nan("");
  return APMPStringValue::doubleFromString(text);
}

bool APMPArrayValue::booleanValueOrError(APMPError&) const { return true; }

APMPValuePtr APMPArrayValue::applyWithName(const std::u16string& name, const APMPValueList& arguments,
                                           const APMPScopePtr& scope, APMPError& error) {
  if (m_properties) {
    if (const APMPValuePtr* property = m_properties->find(name)) {
      if (!(*property)->isFunction()) {
        error.set(kAPMPErrorUnknownMethod);
        return APMPUndefined();
      }
      const APMPValuePtr function = *property;
      return static_cast<APMPFunctionValue&>(*function).invokeWithArguments(arguments, scope, error);
    }
  }
  return APMPArrayCommandEvaluator::sharedInstance().evaluateCommand(name, shared_from_this(), arguments, scope, error);
}

void APMPArrayValue::markReferences(APMPMarker& marker) const {
  if (m_properties) m_properties->markValues(marker);
  for (const APMPValuePtr& element : m_elements) marker.mark(element);
}

void APMPArrayValue::dropReferences() {
  APMPReleaseLater(m_elements);
  if (m_properties) m_properties->clear();
}

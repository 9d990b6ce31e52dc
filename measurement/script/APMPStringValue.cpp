#include "measurement/script/APMPStringValue.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "measurement/script/APMPStringCommandEvaluator.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPMemoryCharge.h"
#include "platform/text/Unicode.h"

APMPStringValue::APMPStringValue(std::u16string value)
    : APMPRuntimeValue(APMPValueKind::String), m_value(std::move(value)) {
  APMPChargeMemory(sizeof(APMPStringValue) + m_value.size() * sizeof(char16_t));
}

APMPValuePtr APMPStringValue::checkedValueWithString(std::u16string value, APMPError& error) {
  if (value.size() > kMaxStringLength) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  return valueWithString(std::move(value));
}

double APMPStringValue::doubleFromString(std::u16string_view text) {
  const std::u16string trimmed = platform::Unicode::trimWhitespaceAndNewlines(text);
  if (trimmed.empty()) return 0;
  if (trimmed == u"NaN") return std::numeric_limits<double>::quiet_NaN();
  if (trimmed == u"Infinity") return std::numeric_limits<double>::infinity();
  if (trimmed == u"-Infinity") return -std::numeric_limits<double>::infinity();

  // [+-] (digits [. digits] | . digits) [(e|E) [+-] digits], ASCII only.
  std::string ascii;
  ascii.reserve(trimmed.size());
  for (char16_t unit : trimmed) {
    if (unit > 0x7f) return std::numeric_limits<double>::quiet_NaN();
    ascii.push_back(static_cast<char>(unit));
  }
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t at = 0;
  bool negative = false;
  if (ascii[at] == '+' || ascii[at] == '-') negative = ascii[at++] == '-';
  const size_t numberStart = at;
  size_t integerDigits = 0;
  while (at < ascii.size() && isDigit(ascii[at])) ++at, ++integerDigits;
  size_t fractionDigits = 0;
  if (at < ascii.size() && ascii[at] == '.') {
    ++at;
    while (at < ascii.size() && isDigit(ascii[at])) ++at, ++fractionDigits;
  }
  if (integerDigits + fractionDigits == 0) return std::numeric_limits<double>::quiet_NaN();
  const size_t mantissaEnd = at;
  long long exponent = 0;
  if (at < ascii.size() && (ascii[at] == 'e' || ascii[at] == 'E')) {
    ++at;
    bool negativeExponent = false;
    if (at < ascii.size() && (ascii[at] == '+' || ascii[at] == '-')) negativeExponent = ascii[at++] == '-';
    const size_t exponentStart = at;
    while (at < ascii.size() && isDigit(ascii[at])) {
      if (exponent < 100000) exponent = exponent * 10 + (ascii[at] - '0');
      ++at;
    }
    if (at == exponentStart) return std::numeric_limits<double>::quiet_NaN();
    if (negativeExponent) exponent = -exponent;
  }
  if (at != ascii.size()) return std::numeric_limits<double>::quiet_NaN();

  double value = 0;
  const std::string_view number(ascii.data() + numberStart, ascii.size() - numberStart);
  const std::from_chars_result read = std::from_chars(number.data(), number.data() + number.size(), value);
  if (read.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: infinity or zero, by where the
    // first significant digit stands.
    long long magnitude = exponent;
    size_t first = numberStart;
    while (first < mantissaEnd && (ascii[first] == '0' || ascii[first] == '.')) ++first;
    const size_t point = ascii.find('.', numberStart);
    const size_t pointAt = point == std::string::npos || point > mantissaEnd ? mantissaEnd : point;
    magnitude += first < pointAt ? static_cast<long long>(pointAt - first) : -static_cast<long long>(first - pointAt);
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (read.ec != std::errc()) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return negative ? -value : value;
}

std::u16string APMPStringValue::stringValueOrError(APMPError&) const { return m_value; }
double APMPStringValue::doubleValueOrError(APMPError&) const { return doubleFromString(m_value); }
bool APMPStringValue::booleanValueOrError(APMPError&) const { return !m_value.empty(); }

APMPValuePtr APMPStringValue::applyWithName(const std::u16string& name, const APMPValueList& arguments,
                                            const APMPScopePtr& scope, APMPError& error) {
  return APMPStringCommandEvaluator::sharedInstance().evaluateCommand(name, m_value, arguments, scope, error);
}

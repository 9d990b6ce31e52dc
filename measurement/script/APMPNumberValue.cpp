#include "measurement/script/APMPNumberValue.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace {

std::u16string ascii16(std::string_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

std::string APMPNumberValue::stringFromDouble(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0) return "0";
  // The shortest digits that read back to the same double, with their
  // decimal exponent: value = d.ddd x 10^exponent.
  char buffer[64];
  const std::to_chars_result written =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
  const std::string_view scientific(buffer, static_cast<size_t>(written.ptr - buffer));
  const size_t e = scientific.find('e');
  std::string digits;
  for (char c : scientific.substr(0, e)) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = 0;
  std::string_view exponentText = scientific.substr(e + 1);
  if (!exponentText.empty() && exponentText[0] == '+') exponentText.remove_prefix(1);
  std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);

  std::string text = value < 0 ? "-" : "";
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e21 || magnitude < 1e-6) {
    text += digits[0];
    if (digits.size() > 1) text += "." + digits.substr(1);
    text += exponent < 0 ? "e-" : "e+";
    text += std::to_string(exponent < 0 ? -exponent : exponent);
  } else if (exponent >= 0) {
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
      text += digits + std::string(integerDigits - digits.size(), '0');
    } else {
      text += digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
    }
  } else {
    text += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  return text;
}

std::u16string APMPNumberValue::u16StringFromDouble(double value) { return ascii16(stringFromDouble(value)); }

std::u16string APMPNumberValue::stringValueOrError(APMPError&) const { return u16StringFromDouble(m_value); }
double APMPNumberValue::doubleValueOrError(APMPError&) const { return m_value; }
bool APMPNumberValue::booleanValueOrError(APMPError&) const { return !(m_value == 0 || std::isnan(m_value)); }

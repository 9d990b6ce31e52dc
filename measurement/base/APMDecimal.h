// APMDecimal: an exact decimal number of at most 38 significant digits and a
// decimal exponent within -128..127 (the measurement engine's decimal
// number). canonicalText() is the shortest plain form: no exponent, no
// leading or trailing zeros beyond the one needed ("1.5", "0.05", "100",
// "0"); a negative number starts with "-".
//
// roundedInt64(factor, shift) is the exact value x factor x 10^shift rounded
// half away from zero to a whole number (money in millionths of a currency
// unit: roundedInt64(quantity, 6)); none when that does not fit a signed
// 64-bit integer.
//
// APMIsDecimalString checks a text against the expression
// "^[+-]?(([0-9]+\.?)|([0-9]*\.[0-9]+))$" (case-insensitive, the whole text),
// compiled once; a failed compilation is reported (26000) and retried on the
// next call. APMDecimalNumberFromString accepts only such texts, and only
// when no digit was lost: the canonical text of the number's magnitude must
// occur in the input (after a leading "." became "0."), so a 39-digit
// significand is refused (26003).
//
// Immutable values; the functions may be called from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class APMDecimal {
 public:
  static constexpr int kMaxDigits = 38;
  static constexpr int kMinExponent = -128;
  static constexpr int kMaxExponent = 127;

  APMDecimal() = default;  // zero

  // Plain decimal text: optional sign, digits, optional point and digits
  // (at least one digit). Digits beyond the 38th significant one are
  // dropped, as the decimal type does. None for anything else, or when the
  // exponent leaves the type's range.
  static std::optional<APMDecimal> parse(std::string_view text);

  bool isNegative() const { return m_negative; }
  bool isZero() const { return m_digits.empty(); }
  APMDecimal negated() const;
  std::string canonicalText() const;
  std::optional<int64_t> roundedInt64(int64_t factor = 1, int decimalShift = 0) const;

  friend bool operator==(const APMDecimal& a, const APMDecimal& b) = default;
  friend std::strong_ordering operator<=>(const APMDecimal& a, const APMDecimal& b);

 private:
  bool m_negative = false;
  std::string m_digits;  // significant digits, no leading or trailing zeros; empty for zero
  int m_exponent = 0;    // value = digits * 10^exponent
};

bool APMIsDecimalString(std::string_view text);
std::optional<APMDecimal> APMDecimalNumberFromString(std::string_view text);

namespace apm_testing {
// Replaces the decimal expression (empty restores it) and reopens the
// one-time compilation. Tests only.
void setDecimalPatternForTesting(const std::string& pattern);
}  // namespace apm_testing

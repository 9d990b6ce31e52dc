#include "measurement/base/APMDecimal.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "platform/dispatch/ResettableOnce.h"
#include "platform/text/Regex.h"

namespace {

constexpr const char* kDecimalPattern = "^[+-]?(([0-9]+\\.?)|([0-9]*\\.[0-9]+))$";

struct DecimalExpression {
  platform::ResettableOnce once;
  std::mutex mutex;
  std::string pattern = kDecimalPattern;
  std::optional<platform::Regex> regex;
};

DecimalExpression& expression() {
  static DecimalExpression* const shared = new DecimalExpression();
  return *shared;
}

// The compiled expression, compiling it on first use; none after a failed
// compilation, which reopens the guard so that the next call tries again.
std::optional<platform::Regex> decimalRegex() {
  DecimalExpression& shared = expression();
  bool compiled = shared.once.call([&shared] {
    std::lock_guard lock(shared.mutex);
    platform::RegexOptions options;
    options.caseInsensitive = true;
    platform::Result<platform::Regex> regex = platform::Regex::compile(shared.pattern, options);
    if (!regex) {
      APMEngineServices::monitor()->logWithLevel(2, 26000, "Unable to initialize decimal number regexp. Regex, error",
                                                 platform::Value(shared.pattern), regex.error());
      return false;
    }
    shared.regex = regex.value();
    return true;
  });
  if (!compiled) return std::nullopt;
  std::lock_guard lock(shared.mutex);
  return shared.regex;
}

}  // namespace

std::optional<APMDecimal> APMDecimal::parse(std::string_view text) {
  size_t position = 0;
  APMDecimal number;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    number.m_negative = text[position] == '-';
    ++position;
  }
  std::string digits;
  int fractionDigits = 0;
  bool seenPoint = false;
  bool seenDigit = false;
  for (; position < text.size(); ++position) {
    const char c = text[position];
    if (c >= '0' && c <= '9') {
      seenDigit = true;
      if (digits.empty() && c == '0') {
        if (seenPoint) ++fractionDigits;  // a leading zero after the point still scales
        continue;
      }
      digits += c;
      if (seenPoint) ++fractionDigits;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      return std::nullopt;
    }
  }
  if (!seenDigit) return std::nullopt;
  int exponent = -fractionDigits;
  if (digits.size() > static_cast<size_t>(kMaxDigits)) {
    exponent += static_cast<int>(digits.size()) - kMaxDigits;
    digits.resize(kMaxDigits);
  }
  while (!digits.empty() && digits.back() == '0') {
    digits.pop_back();
    ++exponent;
  }
  if (digits.empty()) return APMDecimal();
  if (exponent < kMinExponent || exponent > kMaxExponent) return std::nullopt;
  number.m_digits = std::move(digits);
  number.m_exponent = exponent;
  return number;
}

APMDecimal APMDecimal::negated() const {
  APMDecimal negative = *this;
  if (!isZero()) negative.m_negative = !m_negative;
  return negative;
}

std::string APMDecimal::canonicalText() const {
  if (isZero()) return "0";
  std::string text;
  if (m_exponent >= 0) {
    text = m_digits + std::string(static_cast<size_t>(m_exponent), '0');
  } else {
    const size_t fraction = static_cast<size_t>(-m_exponent);
    if (fraction >= m_digits.size()) {
      text = "0." + std::string(fraction - m_digits.size(), '0') + m_digits;
    } else {
      text = m_digits.substr(0, m_digits.size() - fraction) + "." + m_digits.substr(m_digits.size() - fraction);
    }
  }
  return m_negative ? "-" + text : text;
}

std::optional<int64_t> APMDecimal::roundedInt64(int64_t factor, int decimalShift) const {
  if (isZero() || factor == 0) return 0;
  // The significand times |factor|, exactly, as decimal digits (most
  // significant first): schoolbook multiplication by one 64-bit number.
  uint64_t multiplier = factor < 0 ? uint64_t(0) - static_cast<uint64_t>(factor) : static_cast<uint64_t>(factor);
  std::string product;
  unsigned __int128 carry = 0;
  for (auto digit = m_digits.rbegin(); digit != m_digits.rend(); ++digit) {
    carry += static_cast<unsigned __int128>(*digit - '0') * multiplier;
    product.push_back(static_cast<char>('0' + static_cast<int>(carry % 10)));
    carry /= 10;
  }
  while (carry != 0) {
    product.push_back(static_cast<char>('0' + static_cast<int>(carry % 10)));
    carry /= 10;
  }
  std::reverse(product.begin(), product.end());
  const bool negative = m_negative != (factor < 0);
  const int64_t exponent = static_cast<int64_t>(m_exponent) + decimalShift;

  // Whole part and the first dropped digit.
  std::string whole;
  bool roundUp = false;
  if (exponent >= 0) {
    if (static_cast<int64_t>(product.size()) + exponent > 20) return std::nullopt;
    whole = product + std::string(static_cast<size_t>(exponent), '0');
  } else {
    const int64_t kept = static_cast<int64_t>(product.size()) + exponent;
    if (kept > 0) whole = product.substr(0, static_cast<size_t>(kept));
    if (kept >= 0) roundUp = product[static_cast<size_t>(kept)] >= '5';
  }
  // The magnitude as an unsigned number, refusing more than 2^64 - 1.
  unsigned __int128 magnitude = 0;
  for (char digit : whole) {
    magnitude = magnitude * 10 + static_cast<unsigned>(digit - '0');
    if (magnitude > std::numeric_limits<uint64_t>::max()) return std::nullopt;
  }
  if (roundUp) ++magnitude;
  const unsigned __int128 limit =
      static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) return std::nullopt;
  if (!negative) return static_cast<int64_t>(magnitude);
  return magnitude == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
}

std::strong_ordering operator<=>(const APMDecimal& a, const APMDecimal& b) {
  if (a.isZero() && b.isZero()) return std::strong_ordering::equal;
  const int signA = a.isZero() ? 0 : a.m_negative ? -1 : 1;
  const int signB = b.isZero() ? 0 : b.m_negative ? -1 : 1;
  if (signA != signB) return signA <=> signB;
  // Same sign, both non-zero: compare magnitudes by decimal position of the
  // leading digit, then digit by digit.
  const int topA = static_cast<int>(a.m_digits.size()) + a.m_exponent;
  const int topB = static_cast<int>(b.m_digits.size()) + b.m_exponent;
  std::strong_ordering magnitude = topA <=> topB;
  if (magnitude == std::strong_ordering::equal) {
    const int compared = a.m_digits.compare(b.m_digits);
    magnitude = compared <=> 0;
  }
  return signA > 0 ? magnitude : 0 <=> magnitude;
}

bool APMIsDecimalString(std::string_view text) {
  if (text.empty()) return false;
  std::optional<platform::Regex> regex = decimalRegex();
  if (!regex) return false;
  platform::Result<bool> matched = regex->matchesWhole(text);
  return matched.ok() && matched.value();
}

std::optional<APMDecimal> APMDecimalNumberFromString(std::string_view text) {
  std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
  if (!APMIsDecimalString(text)) {
    monitor->logWithLevel(2, 26001, "String value does not represent a numeric value. Value",
                          platform::Value(std::string(text)));
    return std::nullopt;
  }
  std::optional<APMDecimal> number = APMDecimal::parse(text);
  if (!number) {
    monitor->logWithLevel(2, 26002, "Unable to create a NSDecimalNumber from string value. Value",
                          platform::Value(std::string(text)));
    return std::nullopt;
  }
  std::string adjusted(text);
  if (adjusted.rfind("+.", 0) == 0 || adjusted.rfind("-.", 0) == 0 || adjusted.rfind(".", 0) == 0) {
    std::string replaced;
    for (char c : adjusted) replaced += c == '.' ? std::string("0.") : std::string(1, c);
    adjusted = std::move(replaced);
  }
  const std::string canonical = (number->isNegative() ? number->negated() : *number).canonicalText();
  if (adjusted.find(canonical) == std::string::npos) {
    monitor->logWithLevel(2, 26003, "Unable to create a NSDecimalNumber from string value: loss of precision. Value",
                          platform::Value(std::string(text)));
    return std::nullopt;
  }
  return number;
}

namespace apm_testing {

void setDecimalPatternForTesting(const std::string& pattern) {
  DecimalExpression& shared = expression();
  {
    std::lock_guard lock(shared.mutex);
    shared.pattern = pattern.empty() ? std::string(kDecimalPattern) : pattern;
    shared.regex.reset();
  }
  shared.once.reset();
}

}  // namespace apm_testing

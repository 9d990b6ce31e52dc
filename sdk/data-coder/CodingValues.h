// The coder's own value types for the kinds it treats specially:
//
//   Date     an instant, seconds since 1970 (encodes itself as the Double of
//            its seconds since 2001, as the platform date type does);
//   Data     a byte buffer (encodes itself as an array of UInt8);
//   Decimal  a decimal number, kept as its canonical decimal text; goes into
//            a tree as an opaque node named "Decimal";
//   URL      platform::Url (goes into a tree as its text).
//
// Thread safety: plain values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/text/Url.h"
#include "platform/values/Value.h"

namespace coding {

struct Date {
  double secondsSince1970 = 0;

  static Date sinceReferenceDate(double seconds) { return {seconds + platform::Value::kReferenceDateOffset}; }
  double timeIntervalSinceReferenceDate() const { return secondsSince1970 - platform::Value::kReferenceDateOffset; }
  bool operator==(const Date&) const = default;
};

struct Data {
  platform::Bytes bytes;
  bool operator==(const Data&) const = default;
};

class Decimal {
 public:
  Decimal() : m_text("0") {}
  // The shortest decimal text that reads back to d ("0.1", "1e+21"); NaN
  // and infinities keep their names.
  static Decimal fromDouble(double d);
  // Decimal text: optional sign, digits, optional fraction and exponent.
  static std::optional<Decimal> parse(std::string_view text);

  const std::string& text() const { return m_text; }
  double doubleValue() const;
  bool operator==(const Decimal&) const = default;

  // The tree node of a decimal, and back (none when the node is no decimal).
  platform::Value node() const;
  static std::optional<Decimal> fromNode(const platform::Value& node);

 private:
  explicit Decimal(std::string text) : m_text(std::move(text)) {}
  std::string m_text;
};

using URL = platform::Url;

}  // namespace coding

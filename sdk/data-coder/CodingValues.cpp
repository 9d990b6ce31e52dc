#include "sdk/data-coder/CodingValues.h"

#include <cctype>
#include <cmath>
#include <memory>

#include "platform/text/NumberText.h"

namespace coding {

Decimal Decimal::fromDouble(double d) { return Decimal(platform::NumberText::formatDouble(d)); }

std::optional<Decimal> Decimal::parse(std::string_view text) {
  std::optional<double> value = platform::NumberText::parseDouble(text);
  if (!value) return std::nullopt;
  // Keep the written digits; only a leading "+" is dropped.
  std::string_view digits = !text.empty() && text[0] == '+' ? text.substr(1) : text;
  return Decimal(std::string(digits));
}

double Decimal::doubleValue() const {
  if (m_text == "nan") return std::nan("");
  if (m_text == "inf") return INFINITY;
  if (m_text == "-inf") return -INFINITY;
  return platform::NumberText::parseDouble(m_text).value_or(0);
}

platform::Value Decimal::node() const { return platform::Value::opaque(std::make_shared<Decimal>(*this), "Decimal"); }

std::optional<Decimal> Decimal::fromNode(const platform::Value& node) {
  if (std::shared_ptr<Decimal> decimal = node.asOpaque<Decimal>()) return *decimal;
  return std::nullopt;
}

}  // namespace coding

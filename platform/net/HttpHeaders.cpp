#include "platform/net/HttpHeaders.h"

#include <algorithm>

namespace platform {

namespace {

std::string clean(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
  }
  return out;
}

}  // namespace

HttpHeaders::HttpHeaders(std::initializer_list<Field> fields) {
  for (const auto& field : fields) add(field.first, field.second);
}

bool HttpHeaders::namesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool HttpHeaders::travelsUnchanged(std::string_view value) {
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) return false;
  }
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return value.empty() || (!blank(value.front()) && !blank(value.back()));
}

void HttpHeaders::set(std::string_view name, std::string_view value) {
  auto first = std::find_if(m_fields.begin(), m_fields.end(),
                            [&](const Field& f) { return namesEqual(f.first, name); });
  if (first == m_fields.end()) {
    add(name, value);
    return;
  }
  first->first = clean(name);
  first->second = clean(value);
  auto rest = std::remove_if(first + 1, m_fields.end(),
                             [&](const Field& f) { return namesEqual(f.first, name); });
  m_fields.erase(rest, m_fields.end());
}

void HttpHeaders::add(std::string_view name, std::string_view value) {
  m_fields.emplace_back(clean(name), clean(value));
}

bool HttpHeaders::remove(std::string_view name) {
  auto rest = std::remove_if(m_fields.begin(), m_fields.end(),
                             [&](const Field& f) { return namesEqual(f.first, name); });
  bool removed = rest != m_fields.end();
  m_fields.erase(rest, m_fields.end());
  return removed;
}

std::optional<std::string> HttpHeaders::value(std::string_view name) const {
  for (const auto& f : m_fields) {
    if (namesEqual(f.first, name)) return f.second;
  }
  return std::nullopt;
}

}  // namespace platform

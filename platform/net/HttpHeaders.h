// HttpHeaders: an ordered list of HTTP header fields with case-insensitive
// names. `set` replaces every field of the same name (keeping the position of
// the first one), `add` appends, `value` answers the first match. Names and
// values are stored as given; CR and LF are removed on insertion so that a
// header can never be split into two on the wire.
//
// Thread safety: a plain value type; not synchronised.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class HttpHeaders {
 public:
  using Field = std::pair<std::string, std::string>;

  HttpHeaders() = default;
  HttpHeaders(std::initializer_list<Field> fields);

  // Replaces every field named `name` (any case) with one field.
  void set(std::string_view name, std::string_view value);
  // Appends a field, keeping any existing one of the same name.
  void add(std::string_view name, std::string_view value);
  // Removes every field named `name`; answers whether one was removed.
  bool remove(std::string_view name);

  std::optional<std::string> value(std::string_view name) const;
  bool contains(std::string_view name) const { return value(name).has_value(); }

  const std::vector<Field>& fields() const { return m_fields; }
  bool empty() const { return m_fields.empty(); }
  size_t size() const { return m_fields.size(); }
  void clear() { m_fields.clear(); }

  static bool namesEqual(std::string_view a, std::string_view b);
  // True when `value` reaches the server exactly as given: no CR, LF or NUL
  // (removed on insertion), no other control character but HTAB, and no
  // blank at either end (receivers trim those). Credentials that must arrive
  // intact are checked with it before they are accepted.
  static bool travelsUnchanged(std::string_view value);

 private:
  std::vector<Field> m_fields;
};

}  // namespace platform

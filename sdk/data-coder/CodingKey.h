// CodingKey: the key of one member in a coded value, and coding paths.
//
// A key has a string value, an optional integer value and the name of the
// key type it belongs to ("CodingKeys" for the keys value code writes, the
// coder's own "_JSONKey" for the keys it makes: array positions "Index n",
// "super", dictionary entries and converted names). The type name appears in
// error texts only: description() is "<type>(stringValue: \"s\", intValue: n)"
// with "nil" for a missing integer.
//
// A coding path lists the keys from the root of a structure to the value
// being coded; the root path is empty.
//
// Thread safety: plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace coding {

struct CodingKey {
  static constexpr const char* kDefaultTypeName = "CodingKeys";
  static constexpr const char* kCoderTypeName = "_JSONKey";

  std::string stringValue;
  std::optional<int64_t> intValue;
  std::string typeName = kDefaultTypeName;

  CodingKey() = default;
  CodingKey(const char* name) : stringValue(name) {}  // NOLINT: keys are written as text
  CodingKey(std::string name) : stringValue(std::move(name)) {}  // NOLINT
  CodingKey(std::string_view name) : stringValue(name) {}  // NOLINT
  CodingKey(std::string name, std::optional<int64_t> integer, std::string keyTypeName = kDefaultTypeName)
      : stringValue(std::move(name)), intValue(integer), typeName(std::move(keyTypeName)) {}

  // The coder's own keys.
  static CodingKey json(std::string name);           // string value only
  static CodingKey json(int64_t integer);            // "n", n
  static CodingKey index(int64_t position);          // "Index n", n
  static CodingKey super();                          // "super"

  std::string description() const;

  bool operator==(const CodingKey& other) const {
    return stringValue == other.stringValue && intValue == other.intValue;
  }
};

using CodingPath = std::vector<CodingKey>;

// "[a, b]" of the keys' string values, for diagnostics.
std::string describePath(const CodingPath& path);

}  // namespace coding

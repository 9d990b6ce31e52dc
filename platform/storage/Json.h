// Json: JSON text <-> Value, through nlohmann-json.
//
// Parsing keeps what the text says: true/false become bools, integers become
// Int64 (UInt64 above INT64_MAX; integers beyond 64 bits become Double),
// numbers with a fraction or exponent become Double, null becomes null.
// 64-bit integers never pass through a double, in either direction. The top
// level must be an object or an array unless `allowFragments`; nesting is
// limited to `maxDepth`; invalid UTF-8 is an error. Duplicate keys: the last
// one wins. Failures: "NSCocoaErrorDomain" 3840 with a description.
//
// Writing accepts what isValidJSONObject accepts (fragments only with
// `allowFragments`), keeps dictionary insertion order (or sorts keys), and
// writes compact text or an indented form.
//
// Thread safety: stateless; call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace platform {

struct JsonReadOptions {
  bool allowFragments = false;
  size_t maxDepth = 512;
};

struct JsonWriteOptions {
  bool pretty = false;
  bool sortedKeys = false;
  bool allowFragments = false;
};

class Json {
 public:
  static constexpr const char* kErrorDomain = "NSCocoaErrorDomain";
  static constexpr int64_t kErrorCode = 3840;
  static constexpr size_t kDefaultMaxDepth = 512;

  using ReadOptions = JsonReadOptions;
  using WriteOptions = JsonWriteOptions;

  static Result<Value> parse(std::string_view text, ReadOptions options = {});
  static Result<Value> parse(const Bytes& bytes, ReadOptions options = {});

  static Result<std::string> serialize(const Value& value, WriteOptions options = {});
  static Result<Bytes> serializeData(const Value& value, WriteOptions options = {});

  // Top level is an array or dictionary; keys are strings; leaves are
  // strings, finite numbers, bools or null; no dates, data, sets or opaque
  // values; at most kDefaultMaxDepth deep.
  static bool isValidJSONObject(const Value& value);
};

}  // namespace platform

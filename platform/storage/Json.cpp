#include "platform/storage/Json.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

namespace platform {

namespace {

Error jsonError(const std::string& why) {
  return Error::make(Json::kErrorDomain, Json::kErrorCode, "The data couldn’t be read because it isn’t valid JSON: " + why);
}

// Builds a Value straight from the parser's events, with an explicit stack
// (no recursion) and a depth limit.
class ValueBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit ValueBuilder(size_t maxDepth) : m_maxDepth(maxDepth) {}

  bool null() override { return add(Value()); }
  bool boolean(bool b) override { return add(Value(b)); }
  bool number_integer(number_integer_t n) override { return add(Value(static_cast<long long>(n))); }
  bool number_unsigned(number_unsigned_t n) override {
    if (n <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return add(Value(static_cast<long long>(n)));
    }
    return add(Value(static_cast<unsigned long long>(n)));
  }
  bool number_float(number_float_t d, const string_t&) override { return add(Value(static_cast<double>(d))); }
  bool string(string_t& s) override { return add(Value(std::move(s))); }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }
  bool start_object(std::size_t) override { return open(Value(Dictionary())); }
  bool key(string_t& k) override {
    m_keys.back() = std::move(k);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Value(Array())); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
    if (m_error.empty()) {
      m_error = std::string(ex.what()) + " (at byte " + std::to_string(position) + ")";
    }
    return false;
  }

  Value& result() { return m_root; }
  const std::string& error() const { return m_error; }

 private:
  bool fail(std::string why) {
    if (m_error.empty()) {
      m_error = std::move(why);
    }
    return false;
  }
  bool add(Value v) {
    if (m_stack.empty()) {
      m_root = std::move(v);
      return true;
    }
    Value& top = m_stack.back();
    if (top.isArray()) {
      top.asArray()->append(std::move(v));
    } else {
      top.asDictionary()->set(m_keys.back(), std::move(v));
    }
    return true;
  }
  bool open(Value container) {
    if (m_stack.size() >= m_maxDepth) {
      return fail("nested more than " + std::to_string(m_maxDepth) + " levels deep");
    }
    add(container);  // handles share storage: filling the stack entry fills the tree
    m_stack.push_back(std::move(container));
    m_keys.emplace_back();
    return true;
  }
  bool close() {
    m_stack.pop_back();
    m_keys.pop_back();
    return true;
  }

  size_t m_maxDepth;
  Value m_root;
  std::vector<Value> m_stack;
  std::vector<std::string> m_keys;
  std::string m_error;
};

using OrderedJson = nlohmann::ordered_json;

bool validLeafOrContainer(const Value& v, size_t depth) {
  if (depth > Json::kDefaultMaxDepth) {
    return false;
  }
  switch (v.type()) {
    case ValueType::Null:
    case ValueType::Bool:
    case ValueType::String:
      return true;
    case ValueType::Number: {
      Number n = *v.asNumber();
      return !n.isFloating() || std::isfinite(n.m_double);
    }
    case ValueType::Array:
      for (const Value& item : Array(*v.asArray())) {
        if (!validLeafOrContainer(item, depth + 1)) {
          return false;
        }
      }
      return true;
    case ValueType::Dictionary:
      for (const auto& entry : Dictionary(*v.asDictionary())) {
        if (!validLeafOrContainer(entry.second, depth + 1)) {
          return false;
        }
      }
      return true;
    default:
      return false;
  }
}

OrderedJson toJson(const Value& v, bool sortedKeys) {
  switch (v.type()) {
    case ValueType::Bool:
      return *v.asBool();
    case ValueType::String:
      return *v.asString();
    case ValueType::Number: {
      Number n = *v.asNumber();
      if (n.isFloating()) {
        return n.m_double;
      }
      if (n.isSigned()) {
        return n.m_int;
      }
      return n.m_uint;
    }
    case ValueType::Array: {
      OrderedJson out = OrderedJson::array();
      for (const Value& item : Array(*v.asArray())) {
        out.push_back(toJson(item, sortedKeys));
      }
      return out;
    }
    case ValueType::Dictionary: {
      OrderedJson out = OrderedJson::object();
      Dictionary dict = *v.asDictionary();
      std::vector<std::string> keys = dict.keys();
      if (sortedKeys) {
        std::sort(keys.begin(), keys.end());
      }
      for (const std::string& key : keys) {
        out[key] = toJson(dict[key], sortedKeys);
      }
      return out;
    }
    default:
      return nullptr;
  }
}

}  // namespace

Result<Value> Json::parse(std::string_view text, ReadOptions options) {
  ValueBuilder builder(options.maxDepth == 0 ? kDefaultMaxDepth : options.maxDepth);
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder);
  } catch (const std::exception& e) {
    return jsonError(e.what());
  }
  if (!ok) {
    return jsonError(builder.error().empty() ? std::string("malformed") : builder.error());
  }
  Value& root = builder.result();
  if (!options.allowFragments && !root.isArray() && !root.isDictionary()) {
    return jsonError("JSON text did not start with array or object and option to allow fragments not set.");
  }
  return std::move(root);
}

Result<Value> Json::parse(const Bytes& bytes, ReadOptions options) {
  return parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), options);
}

bool Json::isValidJSONObject(const Value& value) {
  return (value.isArray() || value.isDictionary()) && validLeafOrContainer(value, 0);
}

Result<std::string> Json::serialize(const Value& value, WriteOptions options) {
  bool topOk = value.isArray() || value.isDictionary() || options.allowFragments;
  if (!topOk || !validLeafOrContainer(value, 0)) {
    return Error::make(kErrorDomain, kErrorCode, "Invalid object for JSON writing: " + value.typeName() +
                                                     " (or a value inside it) cannot be written as JSON.");
  }
  try {
    return toJson(value, options.sortedKeys).dump(options.pretty ? 2 : -1);
  } catch (const std::exception& e) {
    // Invalid UTF-8 in a string.
    return Error::make(kErrorDomain, kErrorCode, std::string("Invalid string for JSON writing: ") + e.what());
  }
}

Result<Bytes> Json::serializeData(const Value& value, WriteOptions options) {
  Result<std::string> text = serialize(value, options);
  if (!text) {
    return text.error();
  }
  return Bytes(text->begin(), text->end());
}

}  // namespace platform

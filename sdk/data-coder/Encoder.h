// Encoder: the per-call encoder that values encode themselves into, with its
// keyed and unkeyed containers and the super-encoder.
//
// One Encoder exists per RirivuduDataEncoder::encode call. It holds a stack
// of containers under construction (`storage`), the option snapshot of the
// call and the current coding path. A value asks it for a keyed container
// (a shared mutable dictionary), an unkeyed container (a shared mutable
// array) or uses it as its single-value container. `acceptsNewValue` says
// whether the current level is still empty: true when the stack holds as
// many containers as the path holds keys. A second keyed (or unkeyed)
// request at one level returns a container over the same dictionary (array).
//
// Containers are small values sharing the encoder and their dictionary or
// array with the tree: writing through a copy changes the same tree node.
// The keyed container stores every member under the key converted by the
// key strategy; the coding path always records the key as written.
//
// A super-encoder (ReferencingEncoder) is a fresh encoder whose result is
// written into a slot of its parent's container when its last holder lets
// it go: under the key (dictionary) or inserted at the index fixed at its
// creation (array); a super-encoder that encoded nothing writes an empty
// dictionary.
//
// Errors: non-finite floats under the throwing strategy raise EncodingError;
// errors of nested values and of custom closures pass through, and the
// container stays without the failed entry and with its path restored.
// Misuse by value code (a keyed container where an array is open, a second
// single value at one level) raises platform::Exception
// (NSInternalInconsistencyException); a super-encoder released with more
// than one container on its stack stops the process with "Referencing
// encoder deallocated with multiple containers on stack.".
//
// Thread safety: an encoder belongs to the thread of its encode call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/values/Value.h"
#include "sdk/data-coder/CodingError.h"
#include "sdk/data-coder/CodingKey.h"
#include "sdk/data-coder/CodingStrategies.h"
#include "sdk/data-coder/CodingTraits.h"
#include "sdk/data-coder/CodingValues.h"

namespace coding {

class KeyedEncodingContainer;
class UnkeyedEncodingContainer;

template <class T>
inline constexpr bool isStringLike =
    !std::is_same_v<T, std::string> && std::is_convertible_v<const T&, std::string_view>;

class Encoder : public std::enable_shared_from_this<Encoder> {
 public:
  explicit Encoder(EncoderOptions options, CodingPath codingPath = {});
  virtual ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  const CodingPath& codingPath() const { return m_codingPath; }
  const UserInfo& userInfo() const { return m_options.userInfo; }
  const EncoderOptions& options() const { return m_options; }

  KeyedEncodingContainer container();
  UnkeyedEncodingContainer unkeyedContainer();
  Encoder& singleValueContainer() { return *this; }

  // --- single-value container -----------------------------------------------
  void encodeNil();
  template <class T>
  void encode(const T& value);

  // --- machinery shared with the containers and the coding traits -----------
  // The node of a value that encodes itself (dates, data, URLs, decimals,
  // string-keyed dictionaries and passthrough values by their own rules);
  // nothing when the value encoded nothing.
  template <class T>
  std::optional<platform::Value> box(const T& value);
  // box(), an empty dictionary when it gives nothing.
  template <class T>
  platform::Value boxOrEmpty(const T& value);
  template <class T>
  static platform::Value boxScalar(const T& value);
  // Float and Double under the non-conforming strategy.
  platform::Value boxFloat(double value, bool isFloat) const;
  platform::Value boxDate(const Date& date);
  platform::Value boxData(const Data& data);
  // The key under which a keyed container whose path is `containerPath`
  // stores `key`.
  CodingKey convertedKey(const CodingKey& key, const CodingPath& containerPath) const;

  void pushPath(CodingKey key) { m_codingPath.push_back(std::move(key)); }
  void popPath() { m_codingPath.pop_back(); }
  size_t storageCount() const { return m_storage.size(); }
  void push(platform::Value node) { m_storage.push_back(std::move(node)); }
  platform::Value pop();

 protected:
  virtual bool acceptsNewValue() const { return m_storage.size() == m_codingPath.size(); }

 private:
  void requireNewValue() const;
  template <class Map>
  platform::Value boxStringKeyedDictionary(const Map& map);
  // Runs `encode` against this encoder and takes what it pushed: the popped
  // top container, an empty dictionary when `emptyWhenNothing` and nothing
  // was pushed, else nothing. One container is popped when `encode` throws
  // after pushing.
  template <class F>
  std::optional<platform::Value> takePushed(F&& encode);

  std::vector<platform::Value> m_storage;
  EncoderOptions m_options;
  CodingPath m_codingPath;
};

// Appends a key to an encoder's path for one scope.
class EncoderPathScope {
 public:
  EncoderPathScope(Encoder& encoder, CodingKey key) : m_encoder(encoder) { encoder.pushPath(std::move(key)); }
  ~EncoderPathScope() { m_encoder.popPath(); }
  EncoderPathScope(const EncoderPathScope&) = delete;
  EncoderPathScope& operator=(const EncoderPathScope&) = delete;

 private:
  Encoder& m_encoder;
};

class KeyedEncodingContainer {
 public:
  KeyedEncodingContainer(std::shared_ptr<Encoder> encoder, CodingPath codingPath, platform::Dictionary container)
      : m_encoder(std::move(encoder)), m_container(std::move(container)), m_codingPath(std::move(codingPath)) {}

  const CodingPath& codingPath() const { return m_codingPath; }

  void encodeNil(const CodingKey& key);
  template <class T>
  void encode(const T& value, const CodingKey& key);
  // Nothing (no key) for an absent value.
  template <class T>
  void encodeIfPresent(const std::optional<T>& value, const CodingKey& key) {
    if (value) encode(*value, key);
  }
  template <class T>
  void encodeConditional(const T& value, const CodingKey& key) {
    encode(value, key);
  }

  KeyedEncodingContainer nestedContainer(const CodingKey& key);
  UnkeyedEncodingContainer nestedUnkeyedContainer(const CodingKey& key);
  std::shared_ptr<Encoder> superEncoder();
  std::shared_ptr<Encoder> superEncoder(const CodingKey& key);

 private:
  std::shared_ptr<Encoder> m_encoder;
  platform::Dictionary m_container;
  CodingPath m_codingPath;
};

class UnkeyedEncodingContainer {
 public:
  UnkeyedEncodingContainer(std::shared_ptr<Encoder> encoder, CodingPath codingPath, platform::Array container)
      : m_encoder(std::move(encoder)), m_container(std::move(container)), m_codingPath(std::move(codingPath)) {}

  const CodingPath& codingPath() const { return m_codingPath; }
  size_t count() const { return m_container.size(); }

  void encodeNil() { m_container.append(platform::Value()); }
  template <class T>
  void encode(const T& value);
  template <class Sequence>
  void encodeContentsOf(const Sequence& sequence) {
    for (const auto& element : sequence) encode(static_cast<typename Sequence::value_type>(element));
  }
  template <class T>
  void encodeConditional(const T& value) {
    encode(value);
  }

  KeyedEncodingContainer nestedContainer();
  UnkeyedEncodingContainer nestedUnkeyedContainer();
  std::shared_ptr<Encoder> superEncoder();

 private:
  std::shared_ptr<Encoder> m_encoder;
  platform::Array m_container;
  CodingPath m_codingPath;
};

// The super-encoder: writes its value into the parent's slot on release.
class ReferencingEncoder final : public Encoder {
 public:
  struct Reference {
    bool isArray = false;
    platform::Array array;
    size_t index = 0;
    platform::Dictionary dictionary;
    std::string key;

    static Reference inArray(platform::Array array, size_t index) { return {true, std::move(array), index, {}, {}}; }
    static Reference inDictionary(platform::Dictionary dictionary, std::string key) {
      return {false, {}, 0, std::move(dictionary), std::move(key)};
    }
  };

  ReferencingEncoder(std::shared_ptr<Encoder> parent, const CodingKey& key, Reference reference);
  ~ReferencingEncoder() override;

 protected:
  bool acceptsNewValue() const override;

 private:
  std::shared_ptr<Encoder> m_parent;
  Reference m_reference;
};

// --- templates ------------------------------------------------------------------

template <class T>
platform::Value Encoder::boxScalar(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return platform::Value(value);
  } else if constexpr (isStringLike<T>) {
    return platform::Value(std::string(std::string_view(value)));
  } else if constexpr (std::is_same_v<T, long long>) {
    return platform::Value::integer(platform::NumberKind::Int64, value);
  } else if constexpr (std::is_same_v<T, unsigned long long>) {
    return platform::Value::unsignedInteger(platform::NumberKind::UInt64, value);
  } else {
    static_assert(isScalar<T> && !isFloatScalar<T>, "a scalar kind");
    return platform::Value(value);
  }
}

template <class T>
void Encoder::encode(const T& value) {
  requireNewValue();
  if constexpr (isFloatScalar<T>) {
    push(boxFloat(value, std::is_same_v<T, float>));
  } else if constexpr (isScalar<T> || isStringLike<T>) {
    push(boxScalar(value));
  } else {
    push(boxOrEmpty(value));
  }
}

template <class F>
std::optional<platform::Value> Encoder::takePushed(F&& encode) {
  const size_t depth = m_storage.size();
  try {
    encode();
  } catch (...) {
    if (m_storage.size() > depth) m_storage.pop_back();
    throw;
  }
  if (m_storage.size() == depth) return std::nullopt;
  return pop();
}

template <class Map>
platform::Value Encoder::boxStringKeyedDictionary(const Map& map) {
  const size_t depth = m_storage.size();
  platform::Dictionary dictionary;
  push(platform::Value(dictionary));
  for (const auto& [key, element] : map) {
    try {
      EncoderPathScope scope(*this, CodingKey::json(key));
      dictionary.set(key, boxOrEmpty(element));
    } catch (...) {
      if (m_storage.size() > depth) m_storage.pop_back();
      throw;
    }
  }
  return pop();
}

template <class T>
std::optional<platform::Value> Encoder::box(const T& value) {
  if constexpr (std::is_same_v<T, Date>) {
    return boxDate(value);
  } else if constexpr (std::is_same_v<T, Data>) {
    return boxData(value);
  } else if constexpr (std::is_same_v<T, URL>) {
    return platform::Value(value.string());
  } else if constexpr (std::is_same_v<T, Decimal>) {
    return value.node();
  } else if constexpr (IsStringKeyedMap<T>::value) {
    return boxStringKeyedDictionary(value);
  } else {
    if constexpr (std::is_same_v<T, platform::Value>) {
      if (m_options.passthroughTypeResolver(value)) return value;
    }
    return takePushed([&] { CodingTraits<T>::encode(value, *this); });
  }
}

template <class T>
platform::Value Encoder::boxOrEmpty(const T& value) {
  std::optional<platform::Value> node = box(value);
  return node ? std::move(*node) : platform::Value(platform::Dictionary());
}

template <class T>
void KeyedEncodingContainer::encode(const T& value, const CodingKey& key) {
  if constexpr (isFloatScalar<T>) {
    EncoderPathScope scope(*m_encoder, key);
    CodingKey converted = m_encoder->convertedKey(key, m_codingPath);
    m_container.set(converted.stringValue, m_encoder->boxFloat(value, std::is_same_v<T, float>));
  } else if constexpr (isScalar<T> || isStringLike<T>) {
    m_container.set(m_encoder->convertedKey(key, m_codingPath).stringValue, Encoder::boxScalar(value));
  } else if constexpr (isUncodedUnkeyed<T>) {
    return;
  } else {
    EncoderPathScope scope(*m_encoder, key);
    CodingKey converted = m_encoder->convertedKey(key, m_codingPath);
    m_container.set(converted.stringValue, m_encoder->boxOrEmpty(value));
  }
}

template <class T>
void UnkeyedEncodingContainer::encode(const T& value) {
  if constexpr (isFloatScalar<T>) {
    EncoderPathScope scope(*m_encoder, CodingKey::index(static_cast<int64_t>(count())));
    m_container.append(m_encoder->boxFloat(value, std::is_same_v<T, float>));
  } else if constexpr (isScalar<T> || isStringLike<T>) {
    m_container.append(Encoder::boxScalar(value));
  } else {
    EncoderPathScope scope(*m_encoder, CodingKey::index(static_cast<int64_t>(count())));
    m_container.append(m_encoder->boxOrEmpty(value));
  }
}

}  // namespace coding

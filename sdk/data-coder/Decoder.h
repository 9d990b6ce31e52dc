// Decoder: the per-call decoder that typed values decode themselves from,
// with its keyed and unkeyed containers and the conversions of one tree node
// to a requested type.
//
// One Decoder exists per RirivuduDataDecoder::decode call (and one per
// super-decoder). It holds a stack of the nodes being decoded (`storage`,
// never empty: the top is the current value of single-value decoding), the
// option snapshot of the call and the coding path. A value asks it for a
// keyed container (over a string-keyed dictionary node), an unkeyed
// container (over an array node) or uses it as its single-value container.
//
// Node kinds: null, bool (the platform's boolean objects), numbers, strings,
// arrays, string-keyed dictionaries, data, dates, opaque decimals, values of
// RirivuduRemoteConfigValueDecoding (asked for the matching view right after
// the null test) and passthrough values.
//
// Every failure is a thrown DecodingError (or whatever a type's own decode
// or a custom closure throws); the decoder's storage and coding path are as
// they were before the failing operation. Conversions of numbers are exact:
// 3.0 decodes as Int 3, 3.5 and 300-as-Int8 fail, Int64.max decodes as
// UInt64, UInt64.max does not decode as Int64.
//
// Thread safety: a decoder belongs to the thread of its decode call.
#pragma once

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/values/Value.h"
#include "sdk/data-coder/CodingError.h"
#include "sdk/data-coder/CodingKey.h"
#include "sdk/data-coder/CodingStrategies.h"
#include "sdk/data-coder/CodingTraits.h"
#include "sdk/data-coder/CodingValues.h"
#include "sdk/data-coder/RirivuduRemoteConfigValueDecoding.h"

namespace coding {

class KeyedDecodingContainer;
class UnkeyedDecodingContainer;

class Decoder : public std::enable_shared_from_this<Decoder> {
 public:
  Decoder(platform::Value container, DecoderOptions options, CodingPath codingPath = {});
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  const CodingPath& codingPath() const { return m_codingPath; }
  const UserInfo& userInfo() const { return m_options.userInfo; }
  const DecoderOptions& options() const { return m_options; }

  // `keyTypeName` names the key type in error texts ("CodingKeys").
  KeyedDecodingContainer container(std::string keyTypeName = CodingKey::kDefaultTypeName);
  UnkeyedDecodingContainer unkeyedContainer();
  Decoder& singleValueContainer() { return *this; }

  // --- single-value container -----------------------------------------------
  bool decodeNil() const { return topContainer().isNull(); }
  template <class T>
  T decode();

  // --- storage and path ---------------------------------------------------------
  void pushContainer(platform::Value node) { m_storage.push_back(std::move(node)); }
  const platform::Value& topContainer() const { return m_storage.back(); }
  void popContainer() { m_storage.pop_back(); }
  size_t storageCount() const { return m_storage.size(); }
  void pushPath(CodingKey key) { m_codingPath.push_back(std::move(key)); }
  void popPath() { m_codingPath.pop_back(); }

  // --- conversions of one node (none for a null node) -----------------------------
  std::optional<bool> convertToBool(const platform::Value& node) const;
  std::optional<std::string> convertToString(const platform::Value& node) const;
  std::optional<double> convertToDouble(const platform::Value& node) const;
  std::optional<float> convertToFloat(const platform::Value& node) const;
  template <class T>
  std::optional<T> convertToInteger(const platform::Value& node) const;
  std::optional<Decimal> convertToDecimal(const platform::Value& node) const;
  std::optional<Date> convertToDate(const platform::Value& node);
  std::optional<Data> convertToData(const platform::Value& node);
  std::optional<URL> convertToURL(const platform::Value& node) const;
  template <class Map>
  std::optional<Map> convertToStringKeyedDictionary(const platform::Value& node);
  // The conversion of one of the fourteen scalar kinds.
  template <class T>
  std::optional<T> convertScalar(const platform::Value& node);
  // Any type: the special kinds by their own rules, else T decodes itself
  // from this decoder with the node on top of the storage.
  template <class T>
  std::optional<T> convertToValue(const platform::Value& node);

  // The number view of a node: a protocol value's numberValue, else the node.
  static platform::Value numberViewOf(const platform::Value& node);
  // valueNotFound "Expected <type> but found null value instead." when the
  // top of the storage is null.
  void requireNonNull(const std::string& type) const;

  DecodingError typeMismatch(const std::string& type, const platform::Value& found) const;
  DecodingError dataCorrupted(std::string description) const;

 private:
  template <class T, class Convert>
  std::optional<T> withPushed(const platform::Value& node, Convert&& convert);

  std::vector<platform::Value> m_storage;
  DecoderOptions m_options;
  CodingPath m_codingPath;
};

// Appends a key to a decoder's path for one scope.
class DecoderPathScope {
 public:
  DecoderPathScope(Decoder& decoder, CodingKey key) : m_decoder(decoder) { decoder.pushPath(std::move(key)); }
  ~DecoderPathScope() { m_decoder.popPath(); }
  DecoderPathScope(const DecoderPathScope&) = delete;
  DecoderPathScope& operator=(const DecoderPathScope&) = delete;

 private:
  Decoder& m_decoder;
};

class KeyedDecodingContainer {
 public:
  // Converts the dictionary's keys under the decoder's key strategy.
  KeyedDecodingContainer(std::shared_ptr<Decoder> decoder, const platform::Dictionary& dictionary,
                         std::string keyTypeName = CodingKey::kDefaultTypeName);

  const CodingPath& codingPath() const { return m_codingPath; }
  std::vector<CodingKey> allKeys() const;
  bool contains(const CodingKey& key) const { return m_container.contains(key.stringValue); }
  bool decodeNil(const CodingKey& key) const;
  template <class T>
  T decode(const CodingKey& key);
  template <class T>
  std::optional<T> decodeIfPresent(const CodingKey& key) {
    if (!contains(key) || decodeNil(key)) return std::nullopt;
    return decode<T>(key);
  }
  KeyedDecodingContainer nestedContainer(const CodingKey& key,
                                         std::string keyTypeName = CodingKey::kDefaultTypeName);
  UnkeyedDecodingContainer nestedUnkeyedContainer(const CodingKey& key);
  std::shared_ptr<Decoder> superDecoder();
  std::shared_ptr<Decoder> superDecoder(const CodingKey& key);

  // The words naming a key in error texts.
  std::string errorDescription(const CodingKey& key) const;
  // The conversion of the convert-from-snake-case strategy.
  static std::string convertFromSnakeCase(const std::string& key);

 private:
  const platform::Value& lookUp(const CodingKey& key) const;  // keyNotFound when absent
  DecodingError keyNotFound(const CodingKey& key, const CodingPath& path, std::string description) const;

  std::shared_ptr<Decoder> m_decoder;
  platform::Dictionary m_container;
  CodingPath m_codingPath;
  std::string m_keyTypeName;
};

class UnkeyedDecodingContainer {
 public:
  UnkeyedDecodingContainer(std::shared_ptr<Decoder> decoder, platform::Array array, CodingPath codingPath)
      : m_decoder(std::move(decoder)), m_container(std::move(array)), m_codingPath(std::move(codingPath)) {}

  size_t count() const { return m_container.size(); }
  bool isAtEnd() const { return m_currentIndex >= count(); }
  size_t currentIndex() const { return m_currentIndex; }
  const CodingPath& codingPath() const { return m_codingPath; }

  bool decodeNil();
  template <class T>
  T decode();
  template <class T>
  std::optional<T> decodeIfPresent() {
    if (isAtEnd() || decodeNil()) return std::nullopt;
    return decode<T>();
  }
  KeyedDecodingContainer nestedContainer(std::string keyTypeName = CodingKey::kDefaultTypeName);
  UnkeyedDecodingContainer nestedUnkeyedContainer();
  std::shared_ptr<Decoder> superDecoder();

 private:
  CodingPath pathWithCurrentIndex() const;

  std::shared_ptr<Decoder> m_decoder;
  platform::Array m_container;
  CodingPath m_codingPath;
  size_t m_currentIndex = 0;
};

// --- templates ------------------------------------------------------------------

template <class T>
std::optional<T> Decoder::convertToInteger(const platform::Value& node) const {
  if (node.isNull()) return std::nullopt;
  platform::Value number = numberViewOf(node);
  if (!number.isNumber()) throw typeMismatch(typeName<T>(), number);
  std::optional<T> exact = number.exactAs<T>();
  if (!exact) {
    throw dataCorrupted("Parsed JSON number <" + number.stringValue() + "> does not fit in " + typeName<T>() + ".");
  }
  return exact;
}

template <class T>
std::optional<T> Decoder::convertScalar(const platform::Value& node) {
  if constexpr (std::is_same_v<T, bool>) {
    return convertToBool(node);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return convertToString(node);
  } else if constexpr (std::is_same_v<T, double>) {
    return convertToDouble(node);
  } else if constexpr (std::is_same_v<T, float>) {
    return convertToFloat(node);
  } else {
    static_assert(isIntegerScalar<T>, "a scalar kind");
    return convertToInteger<T>(node);
  }
}

template <class T, class Convert>
std::optional<T> Decoder::withPushed(const platform::Value& node, Convert&& convert) {
  pushContainer(node);
  try {
    std::optional<T> result = convert();
    popContainer();
    return result;
  } catch (...) {
    popContainer();
    throw;
  }
}

namespace detail {
// A tree value taken as a T without converting it element by element (what a
// protocol value's dictionary form can be used as); none when it is no T.
template <class T>
std::optional<T> bridge(const platform::Value& value) {
  if constexpr (std::is_same_v<T, platform::Value>) {
    return value;
  } else if constexpr (std::is_same_v<T, bool>) {
    return value.asBool();
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (const std::string* text = value.asString()) return *text;
    return std::nullopt;
  } else if constexpr (isIntegerScalar<T> || isFloatScalar<T>) {
    return value.exactAs<T>();
  } else if constexpr (IsVector<T>::value) {
    std::optional<platform::Array> array = value.asArray();
    if (!array) return std::nullopt;
    T result;
    for (const platform::Value& element : *array) {
      auto item = bridge<typename T::value_type>(element);
      if (!item) return std::nullopt;
      result.push_back(std::move(*item));
    }
    return result;
  } else if constexpr (IsStringKeyedMap<T>::value) {
    std::optional<platform::Dictionary> dictionary = value.asDictionary();
    if (!dictionary) return std::nullopt;
    T result;
    for (const auto& [key, element] : *dictionary) {
      auto item = bridge<typename IsStringKeyedMap<T>::Element>(element);
      if (!item) return std::nullopt;
      result.emplace(key, std::move(*item));
    }
    return result;
  } else {
    return std::nullopt;
  }
}
}  // namespace detail

template <class Map>
std::optional<Map> Decoder::convertToStringKeyedDictionary(const platform::Value& node) {
  using Element = typename IsStringKeyedMap<Map>::Element;
  if (node.isNull()) return std::nullopt;
  if (auto protocolValue = node.asOpaque<RirivuduRemoteConfigValueDecoding>()) {
    std::optional<platform::Dictionary> dictionary = protocolValue->dictionaryValue();
    if (!dictionary) throw typeMismatch(typeName<Map>(), node);
    return detail::bridge<Map>(platform::Value(*dictionary));
  }
  std::optional<platform::Dictionary> dictionary = node.asDictionary();
  if (!dictionary) throw typeMismatch(typeName<Map>(), node);
  Map result;
  for (const auto& [key, element] : *dictionary) {
    DecoderPathScope scope(*this, CodingKey::json(key));
    std::optional<Element> converted = convertToValue<Element>(element);
    if (converted) {
      result.insert_or_assign(key, std::move(*converted));
    } else {
      result.erase(key);
    }
  }
  return result;
}

template <class T>
std::optional<T> Decoder::convertToValue(const platform::Value& node) {
  if constexpr (std::is_same_v<T, Date>) {
    return convertToDate(node);
  } else if constexpr (std::is_same_v<T, Data>) {
    return convertToData(node);
  } else if constexpr (std::is_same_v<T, URL>) {
    return convertToURL(node);
  } else if constexpr (std::is_same_v<T, Decimal>) {
    return convertToDecimal(node);
  } else if constexpr (IsStringKeyedMap<T>::value) {
    return convertToStringKeyedDictionary<T>(node);
  } else {
    return withPushed<T>(node, [&]() -> std::optional<T> {
      if constexpr (std::is_same_v<T, platform::Value>) {
        if (m_options.passthroughTypeResolver(node)) return node;
      }
      return CodingTraits<T>::decode(*this);
    });
  }
}

template <class T>
T Decoder::decode() {
  requireNonNull(typeName<T>());
  if constexpr (isScalar<T>) {
    return *convertScalar<T>(topContainer());
  } else {
    std::optional<T> value = convertToValue<T>(topContainer());
    if (!value) throw typeMismatch(typeName<T>(), topContainer());
    return std::move(*value);
  }
}

template <class T>
T KeyedDecodingContainer::decode(const CodingKey& key) {
  if constexpr (isUncodedUnkeyed<T>) {
    return CodingTraits<T>::decode(*m_decoder);
  } else {
    const platform::Value& entry = lookUp(key);
    DecoderPathScope scope(*m_decoder, key);
    std::optional<T> value;
    if constexpr (isScalar<T>) {
      value = m_decoder->convertScalar<T>(entry);
    } else {
      value = m_decoder->convertToValue<T>(entry);
    }
    if (!value) {
      throw DecodingError::valueNotFound(
          typeName<T>(), {m_decoder->codingPath(), "Expected " + typeName<T>() + " value but found null instead."});
    }
    return std::move(*value);
  }
}

template <class T>
T UnkeyedDecodingContainer::decode() {
  if (isAtEnd()) {
    throw DecodingError::valueNotFound(typeName<T>(), {pathWithCurrentIndex(), "Unkeyed container is at end."});
  }
  DecoderPathScope scope(*m_decoder, CodingKey::index(static_cast<int64_t>(m_currentIndex)));
  const platform::Value& element = m_container[m_currentIndex];
  std::optional<T> value;
  if constexpr (isScalar<T>) {
    value = m_decoder->convertScalar<T>(element);
  } else {
    value = m_decoder->convertToValue<T>(element);
  }
  if (!value) {
    throw DecodingError::valueNotFound(
        typeName<T>(), {m_decoder->codingPath(), "Expected " + typeName<T>() + " but found null instead."});
  }
  ++m_currentIndex;
  return std::move(*value);
}

}  // namespace coding

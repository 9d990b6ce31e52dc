// Coding: the coder's framework in one include: keys, errors, value types,
// strategies, the encoder and decoder with their containers, and the coding
// traits of the built-in types (defined here, once Encoder and Decoder are
// complete). See CodingTraits.h for how a type becomes codable.
#pragma once

#include "sdk/data-coder/CodingError.h"
#include "sdk/data-coder/CodingKey.h"
#include "sdk/data-coder/CodingStrategies.h"
#include "sdk/data-coder/CodingTraits.h"
#include "sdk/data-coder/CodingValues.h"
#include "sdk/data-coder/Decoder.h"
#include "sdk/data-coder/Encoder.h"
#include "sdk/data-coder/SnakeCase.h"

namespace coding {

// A type's own members.
template <class T>
void CodingTraits<T>::encode(const T& value, Encoder& encoder) {
  if constexpr (isScalar<T>) {
    encoder.singleValueContainer().encode(value);
  } else {
    value.encode(encoder);
  }
}

template <class T>
T CodingTraits<T>::decode(Decoder& decoder) {
  if constexpr (isScalar<T>) {
    return decoder.singleValueContainer().decode<T>();
  } else {
    return T::decode(decoder);
  }
}

// The platform date type: the Double of its seconds since 2001.
template <>
struct CodingTraits<Date> {
  static void encode(const Date& date, Encoder& encoder) {
    encoder.singleValueContainer().encode(date.timeIntervalSinceReferenceDate());
  }
  static Date decode(Decoder& decoder) {
    return Date::sinceReferenceDate(decoder.singleValueContainer().decode<double>());
  }
};

// The platform data type: its bytes as an array of UInt8.
template <>
struct CodingTraits<Data> {
  static void encode(const Data& data, Encoder& encoder) {
    UnkeyedEncodingContainer container = encoder.unkeyedContainer();
    for (uint8_t byte : data.bytes) container.encode(byte);
  }
  static Data decode(Decoder& decoder) {
    UnkeyedDecodingContainer container = decoder.unkeyedContainer();
    Data data;
    while (!container.isAtEnd()) data.bytes.push_back(container.decode<uint8_t>());
    return data;
  }
};

template <>
struct CodingTraits<Decimal> {
  static void encode(const Decimal& decimal, Encoder& encoder) {
    encoder.singleValueContainer().encode(decimal.doubleValue());
  }
  static Decimal decode(Decoder& decoder) {
    return Decimal::fromDouble(decoder.singleValueContainer().decode<double>());
  }
};

template <>
struct CodingTraits<URL> {
  static void encode(const URL& url, Encoder& encoder) { encoder.singleValueContainer().encode(url.string()); }
  static URL decode(Decoder& decoder) {
    std::optional<URL> url = URL::parse(decoder.singleValueContainer().decode<std::string>());
    if (!url) throw decoder.dataCorrupted("Invalid URL string.");
    return *url;
  }
};

template <class E>
struct CodingTraits<std::vector<E>> {
  static void encode(const std::vector<E>& elements, Encoder& encoder) {
    UnkeyedEncodingContainer container = encoder.unkeyedContainer();
    for (const auto& element : elements) container.encode(static_cast<E>(element));
  }
  static std::vector<E> decode(Decoder& decoder) {
    UnkeyedDecodingContainer container = decoder.unkeyedContainer();
    std::vector<E> elements;
    while (!container.isAtEnd()) elements.push_back(container.decode<E>());
    return elements;
  }
};

// Reached only when a dictionary is coded through its traits directly; the
// coder itself handles string-keyed dictionaries as their own kind.
template <class E>
struct CodingTraits<std::map<std::string, E>> {
  static void encode(const std::map<std::string, E>& map, Encoder& encoder) {
    KeyedEncodingContainer container = encoder.container();
    for (const auto& [key, element] : map) container.encode(element, CodingKey::json(key));
  }
  static std::map<std::string, E> decode(Decoder& decoder) {
    KeyedDecodingContainer container = decoder.container();
    std::map<std::string, E> map;
    for (const CodingKey& key : container.allKeys()) map.emplace(key.stringValue, container.decode<E>(key));
    return map;
  }
};

template <class E>
struct CodingTraits<std::optional<E>> {
  static void encode(const std::optional<E>& value, Encoder& encoder) {
    if (value) {
      encoder.singleValueContainer().encode(*value);
    } else {
      encoder.singleValueContainer().encodeNil();
    }
  }
  static std::optional<E> decode(Decoder& decoder) {
    if (decoder.singleValueContainer().decodeNil()) return std::nullopt;
    return decoder.singleValueContainer().decode<E>();
  }
};

// Tree values travel only through a passthrough type resolver.
template <>
struct CodingTraits<platform::Value> {
  static void encode(const platform::Value& value, Encoder& encoder) {
    throw EncodingError(value, {encoder.codingPath(), "Value is not passed through by the passthrough type resolver."});
  }
  static platform::Value decode(Decoder& decoder) { throw decoder.typeMismatch("Value", decoder.topContainer()); }
};

}  // namespace coding

// CodingTraits: how a C++ type takes part in coding, and its name.
//
// A type T is codable when CodingTraits<T> has encode and decode. The
// primary template uses T's own members:
//
//   struct Person {
//     std::string name;
//     void encode(coding::Encoder& encoder) const {
//       auto c = encoder.container();
//       c.encode(name, "name");
//     }
//     static Person decode(coding::Decoder& decoder) {
//       auto c = decoder.container();
//       return {c.decode<std::string>("name")};
//     }
//     static constexpr const char* kCodingTypeName = "Person";  // optional
//   };
//
// Built in: the scalars (below), Date, Data, Decimal, URL, std::vector<T>
// (an unkeyed sequence), std::map<std::string, T> (a string-keyed
// dictionary) and std::optional<T> (nil or the value).
//
// Scalars and their names in error texts: bool "Bool", std::string
// "String", float "Float", double "Double", int8_t "Int8", int16_t "Int16",
// int32_t "Int32", int64_t "Int64", long long "Int" (the word-size integer),
// uint8_t "UInt8", uint16_t "UInt16", uint32_t "UInt32", uint64_t "UInt64",
// unsigned long long "UInt".
//
// TypeName<T>::get() is the unqualified name used in error texts:
// T::kCodingTypeName when T has one, else the demangled name without its
// namespaces.
//
// A type may set `static constexpr bool kUncodedUnkeyed = true` (the marker
// of values a keyed container skips when encoding and decodes straight from
// the decoder).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/values/Value.h"
#include "sdk/data-coder/CodingValues.h"

namespace coding {

class Encoder;
class Decoder;

static_assert(std::is_same_v<int64_t, long> && std::is_same_v<uint64_t, unsigned long>,
              "Int64 and Int are told apart as long and long long");

using Int = long long;
using UInt = unsigned long long;

template <class T>
inline constexpr bool isIntegerScalar =
    std::is_same_v<T, int8_t> || std::is_same_v<T, int16_t> || std::is_same_v<T, int32_t> ||
    std::is_same_v<T, int64_t> || std::is_same_v<T, long long> || std::is_same_v<T, uint8_t> ||
    std::is_same_v<T, uint16_t> || std::is_same_v<T, uint32_t> || std::is_same_v<T, uint64_t> ||
    std::is_same_v<T, unsigned long long>;

template <class T>
inline constexpr bool isFloatScalar = std::is_same_v<T, float> || std::is_same_v<T, double>;

// The fourteen scalar kinds the containers handle themselves.
template <class T>
inline constexpr bool isScalar =
    std::is_same_v<T, bool> || std::is_same_v<T, std::string> || isIntegerScalar<T> || isFloatScalar<T>;

template <class T>
struct IsStringKeyedMap : std::false_type {};
template <class E>
struct IsStringKeyedMap<std::map<std::string, E>> : std::true_type {
  using Element = E;
};

template <class T>
struct IsVector : std::false_type {};
template <class E>
struct IsVector<std::vector<E>> : std::true_type {};

template <class T>
struct IsOptional : std::false_type {};
template <class E>
struct IsOptional<std::optional<E>> : std::true_type {
  using Element = E;
};

template <class T>
concept HasUncodedUnkeyedMarker = requires { requires T::kUncodedUnkeyed; };

template <class T>
inline constexpr bool isUncodedUnkeyed = HasUncodedUnkeyedMarker<T>;

namespace detail {
std::string unqualifiedName(const char* mangled);
}

template <class T>
struct TypeName {
  static std::string get() {
    if constexpr (requires { T::kCodingTypeName; }) {
      return std::string(T::kCodingTypeName);
    } else {
      return detail::unqualifiedName(typeid(T).name());
    }
  }
};

#define CODING_TYPE_NAME(type, text) \
  template <>                        \
  struct TypeName<type> {            \
    static std::string get() { return text; } \
  };
CODING_TYPE_NAME(bool, "Bool")
CODING_TYPE_NAME(std::string, "String")
CODING_TYPE_NAME(float, "Float")
CODING_TYPE_NAME(double, "Double")
CODING_TYPE_NAME(int8_t, "Int8")
CODING_TYPE_NAME(int16_t, "Int16")
CODING_TYPE_NAME(int32_t, "Int32")
CODING_TYPE_NAME(int64_t, "Int64")
CODING_TYPE_NAME(long long, "Int")
CODING_TYPE_NAME(uint8_t, "UInt8")
CODING_TYPE_NAME(uint16_t, "UInt16")
CODING_TYPE_NAME(uint32_t, "UInt32")
CODING_TYPE_NAME(uint64_t, "UInt64")
CODING_TYPE_NAME(unsigned long long, "UInt")
CODING_TYPE_NAME(Date, "Date")
CODING_TYPE_NAME(Data, "Data")
CODING_TYPE_NAME(Decimal, "Decimal")
CODING_TYPE_NAME(URL, "URL")
CODING_TYPE_NAME(platform::Value, "Value")
#undef CODING_TYPE_NAME

template <class E>
struct TypeName<std::vector<E>> {
  static std::string get() { return "Array<" + TypeName<E>::get() + ">"; }
};
template <class E>
struct TypeName<std::map<std::string, E>> {
  static std::string get() { return "Dictionary<String, " + TypeName<E>::get() + ">"; }
};
template <class E>
struct TypeName<std::optional<E>> {
  static std::string get() { return "Optional<" + TypeName<E>::get() + ">"; }
};

template <class T>
std::string typeName() {
  return TypeName<T>::get();
}

// How T encodes itself into an encoder and decodes itself from a decoder.
// Defined in Coding.h, once Encoder and Decoder are complete.
template <class T>
struct CodingTraits {
  static void encode(const T& value, Encoder& encoder);
  static T decode(Decoder& decoder);
};

}  // namespace coding

// The strategies of the encoder and the decoder, and the option snapshots
// each coding call takes of them.
//
// Every strategy is a small tagged value: a kind and, for the kinds that
// need one, its payload (a shared date formatter, a closure, three texts).
// A passthrough type resolver decides which tree values (platform::Value
// members of a coded type) go into the tree, or come out of it, unchanged;
// the default, NoPassthroughTypes, passes nothing through.
//
// Thread safety: plain values; closures are called on the coding thread.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/time/DateFormatter.h"
#include "platform/values/Value.h"
#include "sdk/data-coder/CodingKey.h"
#include "sdk/data-coder/CodingValues.h"

namespace coding {

class Encoder;
class Decoder;

using UserInfo = std::map<std::string, std::any>;

// The resolver role: one static question, `passesThrough`.
struct NoPassthroughTypes {
  static bool passesThrough(const platform::Value&) { return false; }
};
using PassthroughTypeResolver = bool (*)(const platform::Value& value);

struct NonConformingFloatStrings {
  std::string positiveInfinity;
  std::string negativeInfinity;
  std::string nan;
};

// --- encoding ---------------------------------------------------------------

struct DateEncodingStrategy {
  enum class Kind { DeferredToDate, SecondsSince1970, MillisecondsSince1970, Iso8601, Formatted, Custom };
  using Closure = std::function<void(const Date& date, Encoder& encoder)>;

  Kind kind = Kind::DeferredToDate;
  std::shared_ptr<const platform::DateFormatter> formatter;
  Closure closure;

  static DateEncodingStrategy deferredToDate() { return {Kind::DeferredToDate, {}, {}}; }
  static DateEncodingStrategy secondsSince1970() { return {Kind::SecondsSince1970, {}, {}}; }
  static DateEncodingStrategy millisecondsSince1970() { return {Kind::MillisecondsSince1970, {}, {}}; }
  static DateEncodingStrategy iso8601() { return {Kind::Iso8601, {}, {}}; }
  static DateEncodingStrategy formatted(std::shared_ptr<const platform::DateFormatter> f) {
    return {Kind::Formatted, std::move(f), {}};
  }
  static DateEncodingStrategy custom(Closure c) { return {Kind::Custom, {}, std::move(c)}; }
};

struct DataEncodingStrategy {
  enum class Kind { DeferredToData, Base64, Blob, Custom };
  using Closure = std::function<void(const Data& data, Encoder& encoder)>;

  Kind kind = Kind::Base64;
  Closure closure;

  static DataEncodingStrategy deferredToData() { return {Kind::DeferredToData, {}}; }
  static DataEncodingStrategy base64() { return {Kind::Base64, {}}; }
  static DataEncodingStrategy blob() { return {Kind::Blob, {}}; }
  static DataEncodingStrategy custom(Closure c) { return {Kind::Custom, std::move(c)}; }
};

struct NonConformingFloatEncodingStrategy {
  enum class Kind { Throw, ConvertToString };

  Kind kind = Kind::Throw;
  NonConformingFloatStrings strings;

  static NonConformingFloatEncodingStrategy throwing() { return {Kind::Throw, {}}; }
  static NonConformingFloatEncodingStrategy convertToString(std::string positiveInfinity,
                                                            std::string negativeInfinity, std::string nan) {
    return {Kind::ConvertToString, {std::move(positiveInfinity), std::move(negativeInfinity), std::move(nan)}};
  }
};

struct KeyEncodingStrategy {
  enum class Kind { UseDefaultKeys, ConvertToSnakeCase, Custom };
  // Given the full path (the key to convert last), the key to use.
  using Closure = std::function<CodingKey(const CodingPath& path)>;

  Kind kind = Kind::UseDefaultKeys;
  Closure closure;

  static KeyEncodingStrategy useDefaultKeys() { return {Kind::UseDefaultKeys, {}}; }
  static KeyEncodingStrategy convertToSnakeCase() { return {Kind::ConvertToSnakeCase, {}}; }
  static KeyEncodingStrategy custom(Closure c) { return {Kind::Custom, std::move(c)}; }
};

struct EncoderOptions {
  DateEncodingStrategy dateEncodingStrategy;
  DataEncodingStrategy dataEncodingStrategy;
  NonConformingFloatEncodingStrategy nonConformingFloatEncodingStrategy;
  KeyEncodingStrategy keyEncodingStrategy;
  PassthroughTypeResolver passthroughTypeResolver = &NoPassthroughTypes::passesThrough;
  UserInfo userInfo;
};

// --- decoding ---------------------------------------------------------------

struct DateDecodingStrategy {
  enum class Kind { DeferredToDate, SecondsSince1970, MillisecondsSince1970, Iso8601, Formatted, Custom };
  using Closure = std::function<Date(Decoder& decoder)>;

  Kind kind = Kind::DeferredToDate;
  std::shared_ptr<const platform::DateFormatter> formatter;
  Closure closure;

  static DateDecodingStrategy deferredToDate() { return {Kind::DeferredToDate, {}, {}}; }
  static DateDecodingStrategy secondsSince1970() { return {Kind::SecondsSince1970, {}, {}}; }
  static DateDecodingStrategy millisecondsSince1970() { return {Kind::MillisecondsSince1970, {}, {}}; }
  static DateDecodingStrategy iso8601() { return {Kind::Iso8601, {}, {}}; }
  static DateDecodingStrategy formatted(std::shared_ptr<const platform::DateFormatter> f) {
    return {Kind::Formatted, std::move(f), {}};
  }
  static DateDecodingStrategy custom(Closure c) { return {Kind::Custom, {}, std::move(c)}; }
};

struct DataDecodingStrategy {
  enum class Kind { DeferredToData, Base64, Blob, Custom };
  using Closure = std::function<Data(Decoder& decoder)>;

  Kind kind = Kind::Base64;
  Closure closure;

  static DataDecodingStrategy deferredToData() { return {Kind::DeferredToData, {}}; }
  static DataDecodingStrategy base64() { return {Kind::Base64, {}}; }
  static DataDecodingStrategy blob() { return {Kind::Blob, {}}; }
  static DataDecodingStrategy custom(Closure c) { return {Kind::Custom, std::move(c)}; }
};

struct NonConformingFloatDecodingStrategy {
  enum class Kind { Throw, ConvertFromString };

  Kind kind = Kind::Throw;
  NonConformingFloatStrings strings;

  static NonConformingFloatDecodingStrategy throwing() { return {Kind::Throw, {}}; }
  static NonConformingFloatDecodingStrategy convertFromString(std::string positiveInfinity,
                                                              std::string negativeInfinity, std::string nan) {
    return {Kind::ConvertFromString, {std::move(positiveInfinity), std::move(negativeInfinity), std::move(nan)}};
  }
};

struct KeyDecodingStrategy {
  enum class Kind { UseDefaultKeys, ConvertFromSnakeCase, Custom };
  using Closure = std::function<CodingKey(const CodingPath& path)>;

  Kind kind = Kind::UseDefaultKeys;
  Closure closure;

  static KeyDecodingStrategy useDefaultKeys() { return {Kind::UseDefaultKeys, {}}; }
  static KeyDecodingStrategy convertFromSnakeCase() { return {Kind::ConvertFromSnakeCase, {}}; }
  static KeyDecodingStrategy custom(Closure c) { return {Kind::Custom, std::move(c)}; }
};

struct DecoderOptions {
  DateDecodingStrategy dateDecodingStrategy;
  DataDecodingStrategy dataDecodingStrategy;
  NonConformingFloatDecodingStrategy nonConformingFloatDecodingStrategy;
  KeyDecodingStrategy keyDecodingStrategy;
  PassthroughTypeResolver passthroughTypeResolver = &NoPassthroughTypes::passesThrough;
  UserInfo userInfo;
};

}  // namespace coding

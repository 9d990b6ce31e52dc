// Coding errors: what encoding and decoding throw.
//
// EncodingError has one kind, invalid value: the offending value (as a tree
// node when it has one) and a context. DecodingError has four kinds: type
// mismatch and value not found (with the expected type's name), key not
// found (with the key) and data corrupted; each has a context. A context is
// the coding path at the failure and a fixed English description; what()
// returns the description. There is never an underlying error.
//
// Thread safety: plain values.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "platform/values/Value.h"
#include "sdk/data-coder/CodingKey.h"

namespace coding {

struct CodingErrorContext {
  CodingPath codingPath;
  std::string debugDescription;
};

class EncodingError : public std::exception {
 public:
  enum class Kind { InvalidValue };

  EncodingError(platform::Value value, CodingErrorContext context)
      : m_value(std::move(value)), m_context(std::move(context)) {}

  Kind kind() const { return Kind::InvalidValue; }
  const platform::Value& value() const { return m_value; }
  const CodingErrorContext& context() const { return m_context; }
  const CodingPath& codingPath() const { return m_context.codingPath; }
  const std::string& debugDescription() const { return m_context.debugDescription; }
  const char* what() const noexcept override { return m_context.debugDescription.c_str(); }

 private:
  platform::Value m_value;
  CodingErrorContext m_context;
};

class DecodingError : public std::exception {
 public:
  enum class Kind { TypeMismatch, ValueNotFound, KeyNotFound, DataCorrupted };

  static DecodingError typeMismatch(std::string type, CodingErrorContext context) {
    return DecodingError(Kind::TypeMismatch, std::move(type), std::nullopt, std::move(context));
  }
  static DecodingError valueNotFound(std::string type, CodingErrorContext context) {
    return DecodingError(Kind::ValueNotFound, std::move(type), std::nullopt, std::move(context));
  }
  static DecodingError keyNotFound(CodingKey key, CodingErrorContext context) {
    return DecodingError(Kind::KeyNotFound, {}, std::move(key), std::move(context));
  }
  static DecodingError dataCorrupted(CodingErrorContext context) {
    return DecodingError(Kind::DataCorrupted, {}, std::nullopt, std::move(context));
  }

  Kind kind() const { return m_kind; }
  // The expected type of a type mismatch or a missing value; "" otherwise.
  const std::string& expectedType() const { return m_type; }
  // The key of a key-not-found error.
  const std::optional<CodingKey>& key() const { return m_key; }
  const CodingErrorContext& context() const { return m_context; }
  const CodingPath& codingPath() const { return m_context.codingPath; }
  const std::string& debugDescription() const { return m_context.debugDescription; }
  const char* what() const noexcept override { return m_context.debugDescription.c_str(); }

  // "typeMismatch", "valueNotFound", "keyNotFound" or "dataCorrupted".
  std::string kindName() const;

 private:
  DecodingError(Kind kind, std::string type, std::optional<CodingKey> key, CodingErrorContext context)
      : m_kind(kind), m_type(std::move(type)), m_key(std::move(key)), m_context(std::move(context)) {}

  Kind m_kind;
  std::string m_type;
  std::optional<CodingKey> m_key;
  CodingErrorContext m_context;
};

}  // namespace coding

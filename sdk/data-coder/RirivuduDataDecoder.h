// RirivuduDataDecoder: builds a typed value from a tree of platform values
// (the structure: string-keyed dictionaries, arrays, numbers, the platform
// Booleans, strings, null, data, dates, decimals, values of
// RirivuduRemoteConfigValueDecoding and passthrough values). No text is
// parsed: the structure is already a tree.
//
//   RirivuduDataDecoder decoder;
//   auto settings = decoder.decode<Settings>(tree);   // throws coding::DecodingError
//
// Defaults: dates deferred to the date type, data as base64, non-finite
// floats throw, keys as written, no passthrough types, empty user info.
// Each decode call takes a snapshot of the six settings at its start. A
// structure that yields no value of the type fails with valueNotFound "The
// given data did not contain a top-level value.". Errors raised by a type's
// own decoding pass through unchanged.
//
// Thread safety: decode runs on the caller's thread; concurrent decodes on
// one object share nothing mutable.
#pragma once

#include <memory>

#include "sdk/data-coder/Coding.h"

class RirivuduDataDecoder {
 public:
  RirivuduDataDecoder() = default;

  const coding::DateDecodingStrategy& dateDecodingStrategy() const { return m_options.dateDecodingStrategy; }
  void setDateDecodingStrategy(coding::DateDecodingStrategy s) { m_options.dateDecodingStrategy = std::move(s); }
  const coding::DataDecodingStrategy& dataDecodingStrategy() const { return m_options.dataDecodingStrategy; }
  void setDataDecodingStrategy(coding::DataDecodingStrategy s) { m_options.dataDecodingStrategy = std::move(s); }
  const coding::NonConformingFloatDecodingStrategy& nonConformingFloatDecodingStrategy() const {
    return m_options.nonConformingFloatDecodingStrategy;
  }
  void setNonConformingFloatDecodingStrategy(coding::NonConformingFloatDecodingStrategy s) {
    m_options.nonConformingFloatDecodingStrategy = std::move(s);
  }
  const coding::KeyDecodingStrategy& keyDecodingStrategy() const { return m_options.keyDecodingStrategy; }
  void setKeyDecodingStrategy(coding::KeyDecodingStrategy s) { m_options.keyDecodingStrategy = std::move(s); }
  coding::PassthroughTypeResolver passthroughTypeResolver() const { return m_options.passthroughTypeResolver; }
  void setPassthroughTypeResolver(coding::PassthroughTypeResolver r) { m_options.passthroughTypeResolver = r; }
  const coding::UserInfo& userInfo() const { return m_options.userInfo; }
  void setUserInfo(coding::UserInfo userInfo) { m_options.userInfo = std::move(userInfo); }

  template <class T>
  T decode(const platform::Value& structure) const {
    auto decoder = std::make_shared<coding::Decoder>(structure, m_options);
    std::optional<T> value = decoder->convertToValue<T>(structure);
    if (!value) {
      throw coding::DecodingError::valueNotFound(coding::typeName<T>(),
                                                 {{}, "The given data did not contain a top-level value."});
    }
    return std::move(*value);
  }

 private:
  coding::DecoderOptions m_options;
};

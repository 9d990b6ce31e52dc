// RirivuduDataEncoder: turns a typed value into a tree of platform values
// (string-keyed dictionaries, arrays, numbers keeping their kind, the
// platform Booleans, strings, null, and data, decimals and passthrough
// values as they are). No text is produced: the tree is the result.
//
//   RirivuduDataEncoder encoder;
//   encoder.setKeyEncodingStrategy(coding::KeyEncodingStrategy::convertToSnakeCase());
//   platform::Value tree = encoder.encode(settings);   // throws coding::EncodingError
//
// Defaults: dates deferred to the date type, data as base64, non-finite
// floats throw, keys as written, no passthrough types, empty user info.
// Each encode call takes a snapshot of the six settings at its start; later
// changes do not affect it. A value that encodes nothing at the top level
// fails with "Top-level <type> did not encode any values.".
//
// Thread safety: encode runs on the caller's thread and takes no lock; do
// not change the settings while another thread encodes with the object.
#pragma once

#include <memory>

#include "sdk/data-coder/Coding.h"

class RirivuduDataEncoder {
 public:
  RirivuduDataEncoder() = default;

  const coding::DateEncodingStrategy& dateEncodingStrategy() const { return m_options.dateEncodingStrategy; }
  void setDateEncodingStrategy(coding::DateEncodingStrategy s) { m_options.dateEncodingStrategy = std::move(s); }
  const coding::DataEncodingStrategy& dataEncodingStrategy() const { return m_options.dataEncodingStrategy; }
  void setDataEncodingStrategy(coding::DataEncodingStrategy s) { m_options.dataEncodingStrategy = std::move(s); }
  const coding::NonConformingFloatEncodingStrategy& nonConformingFloatEncodingStrategy() const {
    return m_options.nonConformingFloatEncodingStrategy;
  }
  void setNonConformingFloatEncodingStrategy(coding::NonConformingFloatEncodingStrategy s) {
    m_options.nonConformingFloatEncodingStrategy = std::move(s);
  }
  const coding::KeyEncodingStrategy& keyEncodingStrategy() const { return m_options.keyEncodingStrategy; }
  void setKeyEncodingStrategy(coding::KeyEncodingStrategy s) { m_options.keyEncodingStrategy = std::move(s); }
  coding::PassthroughTypeResolver passthroughTypeResolver() const { return m_options.passthroughTypeResolver; }
  void setPassthroughTypeResolver(coding::PassthroughTypeResolver r) { m_options.passthroughTypeResolver = r; }
  const coding::UserInfo& userInfo() const { return m_options.userInfo; }
  void setUserInfo(coding::UserInfo userInfo) { m_options.userInfo = std::move(userInfo); }

  template <class T>
  platform::Value encode(const T& value) const {
    auto encoder = std::make_shared<coding::Encoder>(m_options);
    std::optional<platform::Value> boxed = encoder->box(value);
    if (!boxed) {
      throw coding::EncodingError(platform::Value(),
                                  {{}, "Top-level " + coding::typeName<T>() + " did not encode any values."});
    }
    return std::move(*boxed);
  }

 private:
  coding::EncoderOptions m_options;
};

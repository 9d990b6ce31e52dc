// ZUVUduvedOrovarValue: one parameter's bytes and the source they came from
// (remote, default or static), with views as string, number, Boolean, JSON
// and bytes.
//
//   stringValue  the bytes as UTF-8; "" for no bytes or bytes that are not
//                UTF-8.
//   numberValue  the double of stringValue: leading white space skipped, the
//                longest decimal prefix read, 0 when there is none.
//   boolValue    after optional white space, sign and leading zeros, YES when
//                the next character is one of "YyTt1-9".
//   JSONValue    the JSON object or array of the bytes; none for no bytes,
//                and none with the debug line "I-RCN000065" for bytes that
//                are not JSON.
//
// Values are shared by pointer between the content's dictionaries; copy()
// makes a new value with the same bytes and source.
//
// Thread safety: the bytes never change; the source is set by its owner
// before the value is shared.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/values/Value.h"
#include "sdk/remote-config/RCNConstants.h"

class ZUVUduvedOrovarValue {
 public:
  // No bytes, source static.
  ZUVUduvedOrovarValue() = default;
  ZUVUduvedOrovarValue(std::optional<platform::Bytes> data, ZUVUduvedOrovarSource source)
      : m_data(std::move(data)), m_source(source) {}

  static std::shared_ptr<ZUVUduvedOrovarValue> initWithData(std::optional<platform::Bytes> data,
                                                          ZUVUduvedOrovarSource source) {
    return std::make_shared<ZUVUduvedOrovarValue>(std::move(data), source);
  }

  std::string stringValue() const;
  platform::Value numberValue() const;
  bool boolValue() const;
  // The stored bytes (empty when there are none); data() tells them apart.
  const platform::Bytes& dataValue() const;
  const std::optional<platform::Bytes>& data() const { return m_data; }
  std::optional<platform::Value> JSONValue() const;
  std::string debugDescription() const;

  ZUVUduvedOrovarSource source() const { return m_source; }
  void setSource(ZUVUduvedOrovarSource source) { m_source = source; }

  std::shared_ptr<ZUVUduvedOrovarValue> copy() const { return std::make_shared<ZUVUduvedOrovarValue>(*this); }

 private:
  std::optional<platform::Bytes> m_data;
  ZUVUduvedOrovarSource m_source = ZUVUduvedOrovarSourceStatic;
};

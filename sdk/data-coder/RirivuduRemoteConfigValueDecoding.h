// RirivuduRemoteConfigValueDecoding: a value of a decoded structure that
// presents itself in several forms. Remote configuration implements it for
// its configuration values; the decoder asks it, right after the null test,
// for the form the decoding type requests: numbers from numberValue,
// Booleans from boolValue, strings from stringValue, byte buffers from
// dataValue, keyed containers from dictionaryValue and unkeyed containers
// from arrayValue (containers nested in a container never ask it).
//
// In a tree such a value is an opaque node made by node(); the decoder's
// error texts name it by typeName().
//
// Thread safety: implementations are read from the decoding thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/values/Value.h"

class RirivuduRemoteConfigValueDecoding {
 public:
  virtual ~RirivuduRemoteConfigValueDecoding() = default;

  // A number, never absent.
  virtual platform::Value numberValue() const = 0;
  virtual bool boolValue() const = 0;
  virtual std::string stringValue() const = 0;
  virtual platform::Bytes dataValue() const = 0;
  // None when the value has no array (dictionary) form.
  virtual std::optional<platform::Array> arrayValue() const = 0;
  virtual std::optional<platform::Dictionary> dictionaryValue() const = 0;

  // The implementing type's name, for error texts.
  virtual std::string typeName() const = 0;

  // The tree node of a value.
  static platform::Value node(std::shared_ptr<const RirivuduRemoteConfigValueDecoding> value) {
    std::string name = value->typeName();
    return platform::Value::opaque(std::const_pointer_cast<RirivuduRemoteConfigValueDecoding>(std::move(value)),
                                   std::move(name));
  }
};

// APMLogContext: one context object of a monitor report. The monitor prints a
// context's description on the console and keeps a value-hiding encoding of
// it in the health sample, so it must know what kind of object it holds:
//  - a plain value (platform::Value: null, strings, numbers, containers...);
//  - an error (platform::Error), whose domain and monitor context count;
//  - an exception (platform::Exception), named by its symbol;
//  - any other object, known only by its description (an APMValue, an event).
//
// A default-made context is the null object. Contexts are immutable values.
#pragma once

#include <concepts>
#include <memory>
#include <string>
#include <utility>
#include <variant>

#include "platform/values/Error.h"
#include "platform/values/Exception.h"
#include "platform/values/Value.h"

class APMLogContext {
 public:
  struct Object {
    std::string description;
  };

  APMLogContext() = default;
  APMLogContext(std::nullptr_t) {}
  template <class T>
    requires std::constructible_from<platform::Value, T&&> &&
             (!std::same_as<std::remove_cvref_t<T>, APMLogContext>)
  APMLogContext(T&& value) : m_content(platform::Value(std::forward<T>(value))) {}
  APMLogContext(platform::Error error) : m_content(std::move(error)) {}
  APMLogContext(platform::Exception exception) : m_content(std::move(exception)) {}
  APMLogContext(Object object) : m_content(std::move(object)) {}

  // An object shown by its description (encoded as "?").
  static APMLogContext object(std::string description) { return APMLogContext(Object{std::move(description)}); }

  bool isNull() const;
  const platform::Value* value() const { return std::get_if<platform::Value>(&m_content); }
  const platform::Error* error() const { return std::get_if<platform::Error>(&m_content); }
  const platform::Exception* exception() const { return std::get_if<platform::Exception>(&m_content); }
  const Object* other() const { return std::get_if<Object>(&m_content); }

  // The object's own description: a value's description, an error's log
  // text, an exception's reason, an object's description.
  std::string description() const;

 private:
  std::variant<platform::Value, platform::Error, platform::Exception, Object> m_content;
};

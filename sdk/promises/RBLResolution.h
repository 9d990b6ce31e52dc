// RBLResolution: what settles a promise, as handed back by a block or placed in
// a combinator's input list: a value, an error, or another promise to follow.
//
// Construction normalises the dynamic forms so that every path applies one
// rule: a platform::Value whose opaque payload is a platform::Error counts as
// that error, and one whose payload is an RBLPromise counts as that promise.
// Anything a platform::Value can be made from (numbers, strings, containers,
// nullptr) converts implicitly, and so does a std::shared_ptr<T> of one of the
// caller's own classes, which travels as an opaque Value (a null pointer gives
// the null value). Read such objects back with value.asOpaque<T>().
//
// Thread safety: an immutable value; const use from several threads is fine.
#pragma once

#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/values/Error.h"
#include "platform/values/Value.h"

class RBLPromise;
using RBLPromisePtr = std::shared_ptr<RBLPromise>;

class RBLResolution {
 public:
  RBLResolution() = default;  // the null value
  RBLResolution(platform::Value value);
  RBLResolution(platform::Error error);
  RBLResolution(RBLPromisePtr promise);  // nullptr gives the null value

  template <typename T>
    requires(!std::same_as<std::remove_cvref_t<T>, RBLResolution> &&
             !std::same_as<std::remove_cvref_t<T>, platform::Value> &&
             !std::same_as<std::remove_cvref_t<T>, platform::Error> &&
             std::constructible_from<platform::Value, T>)
  RBLResolution(T&& value) : RBLResolution(platform::Value(std::forward<T>(value))) {}

  template <typename T>
    requires(!std::derived_from<T, RBLPromise>)
  RBLResolution(std::shared_ptr<T> object)
      : RBLResolution(object ? platform::Value::opaque(std::move(object)) : platform::Value()) {}

  bool isValue() const { return m_payload.index() == 0; }
  bool isError() const { return m_payload.index() == 1; }
  bool isPromise() const { return m_payload.index() == 2; }

  // The payload of the matching kind, nullptr otherwise.
  const platform::Value* value() const { return std::get_if<0>(&m_payload); }
  const platform::Error* error() const { return std::get_if<1>(&m_payload); }
  const RBLPromisePtr* promise() const { return std::get_if<2>(&m_payload); }

  // As a single Value: errors and promises as opaque payloads.
  platform::Value toValue() const;

 private:
  std::variant<platform::Value, platform::Error, RBLPromisePtr> m_payload;
};

#include "sdk/promises/RBLResolution.h"

#include "sdk/promises/RBLPromise.h"

RBLResolution::RBLResolution(platform::Value value) {
  if (value.isOpaque()) {
    if (auto error = value.asOpaque<platform::Error>()) {
      m_payload.emplace<1>(*error);
      return;
    }
    if (auto promise = value.asOpaque<RBLPromise>()) {
      m_payload.emplace<2>(std::move(promise));
      return;
    }
  }
  m_payload.emplace<0>(std::move(value));
}

RBLResolution::RBLResolution(platform::Error error) : m_payload(std::in_place_index<1>, std::move(error)) {}

RBLResolution::RBLResolution(RBLPromisePtr promise) {
  if (promise) m_payload.emplace<2>(std::move(promise));
}

platform::Value RBLResolution::toValue() const {
  if (const auto* v = value()) return *v;
  if (const auto* e = error()) return RBLPromise::errorAsValue(*e);
  return platform::Value::opaque(*promise(), "RBLPromise");
}

#include "platform/values/Error.h"

#include <memory>

namespace platform {

Error::Error() = default;

Error::Error(std::string domain_, int64_t code_, Dictionary userInfo_)
    : domain(std::move(domain_)), code(code_), userInfo(std::move(userInfo_)) {}

Error::Error(const Error& other)
    : domain(other.domain), code(other.code), userInfo(other.userInfo.copy()) {}

Error& Error::operator=(const Error& other) {
  if (this != &other) {
    domain = other.domain;
    code = other.code;
    userInfo = other.userInfo.copy();
  }
  return *this;
}

Error Error::make(std::string domain, int64_t code, std::string description) {
  Error e(std::move(domain), code);
  if (!description.empty()) {
    e.userInfo.set(kLocalizedDescriptionKey, Value(std::move(description)));
  }
  return e;
}

std::string Error::localizedDescription() const {
  if (const Value* v = userInfo.find(kLocalizedDescriptionKey)) {
    if (const std::string* s = v->asString()) {
      return *s;
    }
  }
  return "The operation couldn\u2019t be completed. (" + domain + " error " + std::to_string(code) +
         ".)";
}

std::optional<std::string> Error::failureReason() const {
  if (const Value* v = userInfo.find(kLocalizedFailureReasonKey)) {
    if (const std::string* s = v->asString()) {
      return *s;
    }
  }
  return std::nullopt;
}

std::optional<Error> Error::underlying() const {
  if (const Value* v = userInfo.find(kUnderlyingErrorKey)) {
    if (std::shared_ptr<const Error> e = v->asOpaque<const Error>()) {
      return *e;
    }
  }
  return std::nullopt;
}

Error& Error::setUnderlying(const Error& error) {
  userInfo.set(kUnderlyingErrorKey, Value::opaque(std::make_shared<const Error>(error), "Error"));
  return *this;
}

Error& Error::setFailureReason(std::string reason) {
  userInfo.set(kLocalizedFailureReasonKey, Value(std::move(reason)));
  return *this;
}

Error& Error::setUserInfo(std::string key, Value value) {
  userInfo.set(std::move(key), std::move(value));
  return *this;
}

std::string Error::description() const {
  std::string text = "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" +
                     localizedDescription() + "\"";
  if (!userInfo.empty()) {
    text += " UserInfo=" + Value(userInfo).description();
  }
  return text;
}

bool operator==(const Error& a, const Error& b) {
  return a.domain == b.domain && a.code == b.code && Value(a.userInfo) == Value(b.userInfo);
}

}  // namespace platform

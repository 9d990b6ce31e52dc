#include "platform/values/Exception.h"

#include <utility>

namespace platform {

Exception::Exception(std::string name_, std::string reason_)
    : name(std::move(name_)), reason(std::move(reason_)) {}

const char* Exception::what() const noexcept { return reason.c_str(); }

void Exception::raise(std::string name, std::string reason) {
  throw Exception(std::move(name), std::move(reason));
}

void Exception::invalidParameter(const std::string& condition) {
  throw Exception(kInternalInconsistencyException, "Invalid parameter not satisfying: " + condition);
}

}  // namespace platform

// Notification: what a NotificationCenter delivers. `userInfo` is a Value
// dictionary (empty when none); `payload` carries a typed object that is not
// a property-list value (for example a state snapshot struct).
//
// Thread safety: a value; the userInfo dictionary is shared by reference
// (see Value.h), so observers must not mutate it.
#pragma once

#include <any>
#include <string>

#include "platform/notifications/NotificationObject.h"
#include "platform/values/Value.h"

namespace platform {

struct Notification {
  std::string name;
  NotificationObject object;
  Dictionary userInfo;
  std::any payload;

  template <class T>
  const T* payloadAs() const {
    return std::any_cast<T>(&payload);
  }
};

}  // namespace platform

// The analytics front's entries for the connector's user properties: set one
// under an origin, the per-origin limit, and the stored user properties.
// Each checks on the caller's thread, then passes through the front's
// operation queue and the engine's worker queue (so it waits for the front's
// start like every other front operation), and answers on the given queue.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/values/Value.h"

namespace connectorfront {

// Every origin may hold this many user properties.
inline constexpr int64_t kMaxUserPropertiesPerOrigin = 25;

// A null value removes the user property.
void setInternalUserProperty(const platform::Value& value, const std::string& name, const std::string& origin);
// The callback hears the limit on the queue; it is not called for an empty origin.
void maxUserPropertiesForOrigin(const std::string& origin, const platform::DispatchQueue& queue,
                                std::function<void(int64_t maximum)> callback);
// Name to plain value (string or number); empty while analytics is disabled.
void userPropertiesIncludingInternal(bool includingInternal, const platform::DispatchQueue& queue,
                                     std::function<void(platform::Dictionary properties)> callback);

}  // namespace connectorfront

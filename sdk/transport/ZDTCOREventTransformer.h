// ZDTCOREventTransformer: a step a client's transport runs over each event
// before it is stored. transformZDTEvent answers the event to store (the
// same or another) or nullptr to drop it. It runs on the transformer's
// serial queue ("com.zoruvu.ZDTCORTransformer").
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/values/Error.h"

#include "sdk/transport/ZDTCOREvent.h"

class ZDTCOREventTransformer {
 public:
  virtual ~ZDTCOREventTransformer() = default;
  virtual std::shared_ptr<ZDTCOREvent> transformZDTEvent(std::shared_ptr<ZDTCOREvent> event) = 0;
};

using ZDTCOREventTransformers = std::vector<std::shared_ptr<ZDTCOREventTransformer>>;

// Completion of sending or storing an event: whether it was written, and
// the error when not.
using ZDTCOREventCompletion = std::function<void(bool wasWritten, std::optional<platform::Error> error)>;

// Internal: the fire paths of Timer and DispatchQueue::after note the queue
// they fed (see TimerWork.h).
#pragma once

#include <memory>

namespace platform::dispatch_internal {

class QueueImpl;

void noteTimerFed(const std::shared_ptr<QueueImpl>& queue);

}  // namespace platform::dispatch_internal

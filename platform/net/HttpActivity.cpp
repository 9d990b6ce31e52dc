#include "platform/net/HttpActivity.h"

#include <atomic>
#include <mutex>

namespace platform {
namespace {

struct Activity {
  std::atomic<size_t> inFlight{0};
  std::atomic<bool> observed{false};
  std::mutex mutex;
  HttpActivity::Observer observer;
};

Activity& activity() {
  static Activity* const shared = new Activity();
  return *shared;
}

}  // namespace

size_t HttpActivity::inFlightCount() { return activity().inFlight.load(); }

void HttpActivity::setObserver(Observer observer) {
  Activity& state = activity();
  std::lock_guard lock(state.mutex);
  state.observed.store(static_cast<bool>(observer));
  state.observer = std::move(observer);
}

void HttpActivity::taskResumed() { activity().inFlight.fetch_add(1); }

void HttpActivity::taskEnded(const HttpActivityRecord& record) {
  Activity& state = activity();
  if (state.observed.load()) {
    Observer observer;
    {
      std::lock_guard lock(state.mutex);
      observer = state.observer;
    }
    if (observer) observer(record);
  }
  state.inFlight.fetch_sub(1);
}

}  // namespace platform

// Core of RBLPromise: state, settling, observation, chaining, the default
// queue and the process-wide group.
#include "sdk/promises/RBLPromise.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/dispatch/MainQueue.h"
#include "platform/values/Exception.h"
#include "sdk/promises/internal/Resolve.h"

using platform::Error;
using platform::Value;

namespace {

std::mutex g_defaultQueueMutex;

platform::DispatchQueue& defaultQueueSlot() {
  static platform::DispatchQueue* queue = new platform::DispatchQueue(platform::mainQueue());
  return *queue;
}

}  // namespace

RBLPromise::RBLPromise(Passkey, State state, Value value, std::optional<Error> error)
    : m_state(state), m_value(std::move(value)), m_error(std::move(error)) {
  if (m_state == State::Pending) dispatchGroup().enter();
}

RBLPromise::~RBLPromise() {
  // Nobody else holds the promise any more: no lock needed.
  if (m_state == State::Pending) dispatchGroup().leave();
}

RBLPromisePtr RBLPromise::pendingPromise() {
  return std::make_shared<RBLPromise>(Passkey{}, State::Pending, Value(), std::nullopt);
}

RBLPromisePtr RBLPromise::resolvedWith(RBLResolution resolution) {
  if (const Error* error = resolution.error()) {
    return std::make_shared<RBLPromise>(Passkey{}, State::Rejected, Value(), *error);
  }
  return std::make_shared<RBLPromise>(Passkey{}, State::Fulfilled, resolution.toValue(), std::nullopt);
}

std::function<RBLPromisePtr()> RBLPromise::pending() {
  return [] { return pendingPromise(); };
}

RBLPromise::Property<RBLResolution> RBLPromise::resolved() {
  return [](RBLResolution resolution) { return resolvedWith(std::move(resolution)); };
}

void RBLPromise::fulfill(RBLResolution value) {
  if (const Error* error = value.error()) {
    settle(State::Rejected, Value(), *error);
  } else {
    settle(State::Fulfilled, value.toValue(), std::nullopt);
  }
}

void RBLPromise::reject(Error error) { settle(State::Rejected, Value(), std::move(error)); }

void RBLPromise::settle(State state, Value value, std::optional<Error> error) {
  std::vector<Observer> observers;
  std::vector<std::shared_ptr<const void>> pendingObjects;
  {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Pending) return;
    m_state = state;
    m_value = std::move(value);
    m_error = std::move(error);
    pendingObjects.swap(m_pendingObjects);
    // Observers only queue work (each entering the group first), so no user
    // code runs under the lock and the group never reads empty in between.
    for (const Observer& observer : m_observers) observer(m_state, m_value, m_error);
    observers.swap(m_observers);
  }
  dispatchGroup().leave();
  // observers and pendingObjects (and whatever they hold) go here, unlocked.
}

RBLPromise::State RBLPromise::state() const {
  std::lock_guard lock(m_mutex);
  return m_state;
}

Value RBLPromise::value() const {
  std::lock_guard lock(m_mutex);
  return m_value;
}

std::optional<Error> RBLPromise::error() const {
  std::lock_guard lock(m_mutex);
  return m_error;
}

void RBLPromise::addPendingObject(std::shared_ptr<const void> object) {
  if (!object) platform::Exception::invalidParameter("object");
  std::lock_guard lock(m_mutex);
  if (m_state == State::Pending) m_pendingObjects.push_back(std::move(object));
}

std::string RBLPromise::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string head = "<RBLPromise " + std::string(address) + ">";
  std::lock_guard lock(m_mutex);
  switch (m_state) {
    case State::Fulfilled:
      return head + " Fulfilled: " + m_value.description();
    case State::Rejected:
      return head + " Rejected: " + m_error->description();
    case State::Pending:
      break;
  }
  return head + " Pending";
}

void RBLPromise::observeOnQueue(const Queue& queue, RBLFulfillObserver onFulfill, RBLRejectObserver onReject) {
  if (!onFulfill) platform::Exception::invalidParameter("onFulfill");
  if (!onReject) platform::Exception::invalidParameter("onReject");
  struct Callbacks {
    RBLFulfillObserver onFulfill;
    RBLRejectObserver onReject;
  };
  auto callbacks = std::make_shared<const Callbacks>(Callbacks{std::move(onFulfill), std::move(onReject)});
  auto deliver = [queue, callbacks = std::move(callbacks)](State state, const Value& value,
                                                           const std::optional<Error>& error) {
    dispatchGroup().async(queue, [callbacks, state, value, error] {
      if (state == State::Fulfilled) {
        callbacks->onFulfill(value);
      } else if (state == State::Rejected) {
        callbacks->onReject(*error);
      }
    });
  };
  std::lock_guard lock(m_mutex);
  if (m_state == State::Pending) {
    m_observers.push_back(std::move(deliver));
  } else {
    deliver(m_state, m_value, m_error);
  }
}

namespace rbl_internal {

void resolveFollowing(const RBLPromisePtr& result, const platform::DispatchQueue& queue, RBLResolution x) {
  if (const RBLPromisePtr* inner = x.promise()) {
    (*inner)->observeOnQueue(
        queue, [result](const Value& value) { result->fulfill(value); },
        [result](const Error& error) { result->reject(error); });
  } else {
    result->fulfill(std::move(x));
  }
}

}  // namespace rbl_internal

RBLPromisePtr RBLPromise::chainOnQueue(const Queue& queue, RBLThenBlock chainedFulfill,
                                       RBLRecoverBlock chainedReject) {
  RBLPromisePtr result = pendingPromise();
  observeOnQueue(
      queue,
      [queue, result, chainedFulfill = std::move(chainedFulfill)](const Value& value) {
        rbl_internal::resolveFollowing(result, queue, chainedFulfill ? chainedFulfill(value) : RBLResolution(value));
      },
      [queue, result, chainedReject = std::move(chainedReject)](const Error& error) {
        rbl_internal::resolveFollowing(result, queue, chainedReject ? chainedReject(error) : RBLResolution(error));
      });
  return result;
}

RBLPromise::Queue RBLPromise::defaultDispatchQueue() {
  std::lock_guard lock(g_defaultQueueMutex);
  return defaultQueueSlot();
}

void RBLPromise::setDefaultDispatchQueue(const Queue& queue) {
  std::lock_guard lock(g_defaultQueueMutex);
  defaultQueueSlot() = queue;
}

const platform::Group& RBLPromise::dispatchGroup() {
  static platform::Group* group = new platform::Group();  // never released: used until exit
  return *group;
}

Value RBLPromise::errorAsValue(Error error) {
  return Value::opaque(std::make_shared<Error>(std::move(error)), "Error");
}

std::optional<Error> RBLPromise::errorFromValue(const Value& value) {
  if (auto error = value.asOpaque<Error>()) return *error;
  return std::nullopt;
}

bool RBLPromiseWaitUntilIdle(double timeoutSeconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeoutSeconds > 0 ? std::min(timeoutSeconds, 1e9) : 0.0));
  const platform::Group& group = RBLPromise::dispatchGroup();
  while (group.wait(0.01)) {
    if (Clock::now() >= deadline) return false;
    if (platform::isMainThread()) {
      platform::MainQueue::runFor(0.01);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return true;
}

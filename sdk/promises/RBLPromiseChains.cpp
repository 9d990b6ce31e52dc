// The combinators that continue one promise: then, catch, always, recover,
// validate and reduce (chains), delay and timeout (time).
#include "platform/values/Exception.h"
#include "sdk/promises/RBLPromise.h"

using platform::Error;
using platform::Value;

// ---- then ---------------------------------------------------------------------

RBLPromisePtr RBLPromise::then(RBLThenBlock work) { return onQueueThen(defaultDispatchQueue(), std::move(work)); }

RBLPromisePtr RBLPromise::onQueueThen(const Queue& queue, RBLThenBlock work) {
  if (!work) platform::Exception::invalidParameter("work");
  return chainOnQueue(queue, std::move(work), nullptr);
}

RBLPromise::Property<RBLThenBlock> RBLPromise::then() {
  return [self = shared_from_this()](RBLThenBlock work) { return self->then(std::move(work)); };
}

RBLPromise::QueueProperty<RBLThenBlock> RBLPromise::thenOn() {
  return [self = shared_from_this()](const Queue& queue, RBLThenBlock work) {
    return self->onQueueThen(queue, std::move(work));
  };
}

// ---- catch --------------------------------------------------------------------

RBLPromisePtr RBLPromise::catch_(RBLCatchBlock reject) {
  return onQueueCatch(defaultDispatchQueue(), std::move(reject));
}

RBLPromisePtr RBLPromise::onQueueCatch(const Queue& queue, RBLCatchBlock reject) {
  if (!reject) platform::Exception::invalidParameter("reject");
  return chainOnQueue(queue, nullptr, [reject = std::move(reject)](const Error& error) -> RBLResolution {
    reject(error);
    return error;
  });
}

RBLPromise::Property<RBLCatchBlock> RBLPromise::catch_() {
  return [self = shared_from_this()](RBLCatchBlock reject) { return self->catch_(std::move(reject)); };
}

RBLPromise::QueueProperty<RBLCatchBlock> RBLPromise::catchOn() {
  return [self = shared_from_this()](const Queue& queue, RBLCatchBlock reject) {
    return self->onQueueCatch(queue, std::move(reject));
  };
}

// ---- always -------------------------------------------------------------------

RBLPromisePtr RBLPromise::always(RBLAlwaysBlock work) {
  return onQueueAlways(defaultDispatchQueue(), std::move(work));
}

RBLPromisePtr RBLPromise::onQueueAlways(const Queue& queue, RBLAlwaysBlock work) {
  if (!work) platform::Exception::invalidParameter("work");
  return chainOnQueue(
      queue,
      [work](const Value& value) -> RBLResolution {
        work();
        return value;
      },
      [work](const Error& error) -> RBLResolution {
        work();
        return error;
      });
}

RBLPromise::Property<RBLAlwaysBlock> RBLPromise::always() {
  return [self = shared_from_this()](RBLAlwaysBlock work) { return self->always(std::move(work)); };
}

RBLPromise::QueueProperty<RBLAlwaysBlock> RBLPromise::alwaysOn() {
  return [self = shared_from_this()](const Queue& queue, RBLAlwaysBlock work) {
    return self->onQueueAlways(queue, std::move(work));
  };
}

// ---- recover ------------------------------------------------------------------

RBLPromisePtr RBLPromise::recover(RBLRecoverBlock recovery) {
  return onQueueRecover(defaultDispatchQueue(), std::move(recovery));
}

RBLPromisePtr RBLPromise::onQueueRecover(const Queue& queue, RBLRecoverBlock recovery) {
  if (!recovery) platform::Exception::invalidParameter("recovery");
  return chainOnQueue(queue, nullptr, std::move(recovery));
}

RBLPromise::Property<RBLRecoverBlock> RBLPromise::recover() {
  return [self = shared_from_this()](RBLRecoverBlock recovery) { return self->recover(std::move(recovery)); };
}

RBLPromise::QueueProperty<RBLRecoverBlock> RBLPromise::recoverOn() {
  return [self = shared_from_this()](const Queue& queue, RBLRecoverBlock recovery) {
    return self->onQueueRecover(queue, std::move(recovery));
  };
}

// ---- validate -----------------------------------------------------------------

RBLPromisePtr RBLPromise::validate(RBLValidateBlock predicate) {
  return onQueueValidate(defaultDispatchQueue(), std::move(predicate));
}

RBLPromisePtr RBLPromise::onQueueValidate(const Queue& queue, RBLValidateBlock predicate) {
  if (!predicate) platform::Exception::invalidParameter("predicate");
  return chainOnQueue(
      queue,
      [predicate = std::move(predicate)](const Value& value) -> RBLResolution {
        if (predicate(value)) return value;
        return RBLPromiseMakeError(RBLPromiseErrorCode::ValidationFailure);
      },
      nullptr);
}

RBLPromise::Property<RBLValidateBlock> RBLPromise::validate() {
  return [self = shared_from_this()](RBLValidateBlock predicate) { return self->validate(std::move(predicate)); };
}

RBLPromise::QueueProperty<RBLValidateBlock> RBLPromise::validateOn() {
  return [self = shared_from_this()](const Queue& queue, RBLValidateBlock predicate) {
    return self->onQueueValidate(queue, std::move(predicate));
  };
}

// ---- reduce -------------------------------------------------------------------

RBLPromisePtr RBLPromise::reduce(std::vector<Value> items, RBLReduceBlock combine) {
  return onQueueReduce(defaultDispatchQueue(), std::move(items), std::move(combine));
}

RBLPromisePtr RBLPromise::onQueueReduce(const Queue& queue, std::vector<Value> items, RBLReduceBlock combine) {
  if (!combine) platform::Exception::invalidParameter("reducer");
  RBLPromisePtr current = shared_from_this();
  for (Value& item : items) {
    current = current->chainOnQueue(
        queue, [combine, item = std::move(item)](const Value& partial) { return combine(partial, item); }, nullptr);
  }
  return current;
}

RBLPromise::Property<std::vector<Value>, RBLReduceBlock> RBLPromise::reduce() {
  return [self = shared_from_this()](std::vector<Value> items, RBLReduceBlock combine) {
    return self->reduce(std::move(items), std::move(combine));
  };
}

RBLPromise::QueueProperty<std::vector<Value>, RBLReduceBlock> RBLPromise::reduceOn() {
  return [self = shared_from_this()](const Queue& queue, std::vector<Value> items, RBLReduceBlock combine) {
    return self->onQueueReduce(queue, std::move(items), std::move(combine));
  };
}

// ---- delay --------------------------------------------------------------------

RBLPromisePtr RBLPromise::delay(double interval) { return onQueueDelay(defaultDispatchQueue(), interval); }

RBLPromisePtr RBLPromise::onQueueDelay(const Queue& queue, double interval) {
  RBLPromisePtr result = pendingPromise();
  observeOnQueue(
      queue,
      [queue, interval, result](const Value& value) {
        queue.after(interval, [result, value] { result->fulfill(value); });
      },
      [result](const Error& error) { result->reject(error); });
  return result;
}

RBLPromise::Property<double> RBLPromise::delay() {
  return [self = shared_from_this()](double interval) { return self->delay(interval); };
}

RBLPromise::QueueProperty<double> RBLPromise::delayOn() {
  return [self = shared_from_this()](const Queue& queue, double interval) {
    return self->onQueueDelay(queue, interval);
  };
}

// ---- timeout ------------------------------------------------------------------

RBLPromisePtr RBLPromise::timeout(double interval) { return onQueueTimeout(defaultDispatchQueue(), interval); }

RBLPromisePtr RBLPromise::onQueueTimeout(const Queue& queue, double interval) {
  RBLPromisePtr result = pendingPromise();
  observeOnQueue(
      queue, [result](const Value& value) { result->fulfill(value); },
      [result](const Error& error) { result->reject(error); });
  // The timer holds the result weakly and is not cancelled when the receiver
  // settles first: its rejection then changes nothing.
  queue.after(interval, [weakResult = std::weak_ptr<RBLPromise>(result)] {
    if (RBLPromisePtr result = weakResult.lock()) {
      result->reject(RBLPromiseMakeError(RBLPromiseErrorCode::TimedOut));
    }
  });
  return result;
}

RBLPromise::Property<double> RBLPromise::timeout() {
  return [self = shared_from_this()](double interval) { return self->timeout(interval); };
}

RBLPromise::QueueProperty<double> RBLPromise::timeoutOn() {
  return [self = shared_from_this()](const Queue& queue, double interval) {
    return self->onQueueTimeout(queue, interval);
  };
}

// The combinators that start a promise from a block: async, do, retry, the
// wrap families; and the blocking await.
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/values/Exception.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/promises/internal/Resolve.h"

using platform::Error;
using platform::Value;

// ---- async --------------------------------------------------------------------

RBLPromisePtr RBLPromise::async(RBLAsyncBlock work) { return onQueueAsync(defaultDispatchQueue(), std::move(work)); }

RBLPromisePtr RBLPromise::onQueueAsync(const Queue& queue, RBLAsyncBlock work) {
  if (!work) platform::Exception::invalidParameter("work");
  RBLPromisePtr result = pendingPromise();
  dispatchGroup().async(queue, [queue, result, work = std::move(work)] {
    work([queue, result](RBLResolution value) { rbl_internal::resolveFollowing(result, queue, std::move(value)); },
         [result](Error error) { result->reject(std::move(error)); });
  });
  return result;
}

RBLPromise::Property<RBLAsyncBlock> RBLPromise::async() {
  return [](RBLAsyncBlock work) { return async(std::move(work)); };
}

RBLPromise::QueueProperty<RBLAsyncBlock> RBLPromise::asyncOn() {
  return [](const Queue& queue, RBLAsyncBlock work) { return onQueueAsync(queue, std::move(work)); };
}

// ---- do -----------------------------------------------------------------------

RBLPromisePtr RBLPromise::do_(RBLDoBlock work) { return onQueueDo(defaultDispatchQueue(), std::move(work)); }

RBLPromisePtr RBLPromise::onQueueDo(const Queue& queue, RBLDoBlock work) {
  if (!work) platform::Exception::invalidParameter("work");
  RBLPromisePtr result = pendingPromise();
  dispatchGroup().async(queue, [queue, result, work = std::move(work)] {
    rbl_internal::resolveFollowing(result, queue, work());
  });
  return result;
}

RBLPromise::QueueProperty<RBLDoBlock> RBLPromise::doOn() {
  return [](const Queue& queue, RBLDoBlock work) { return onQueueDo(queue, std::move(work)); };
}

// ---- retry --------------------------------------------------------------------

namespace {

struct Retry {
  platform::DispatchQueue queue;
  double delay;
  RBLRetryCondition condition;
  RBLRetryBlock work;
  RBLPromisePtr result;

  static void attempt(const std::shared_ptr<Retry>& retry, int64_t remaining) {
    RBLResolution outcome = retry->work();
    if (const RBLPromisePtr* promise = outcome.promise()) {
      (*promise)->observeOnQueue(
          retry->queue, [retry, remaining](const Value& value) { handle(retry, remaining, value); },
          [retry, remaining](const Error& error) { handle(retry, remaining, error); });
    } else {
      handle(retry, remaining, std::move(outcome));
    }
  }

  static void handle(const std::shared_ptr<Retry>& retry, int64_t remaining, RBLResolution outcome) {
    const Error* error = outcome.error();
    if (error == nullptr) {
      retry->result->fulfill(std::move(outcome));
      return;
    }
    if (remaining > 0 && (!retry->condition || retry->condition(remaining, *error))) {
      retry->queue.after(retry->delay, [retry, remaining] { attempt(retry, remaining - 1); });
    } else {
      retry->result->reject(*error);
    }
  }
};

}  // namespace

RBLPromisePtr RBLPromise::retry(RBLRetryBlock work) {
  return onQueueAttempts(defaultDispatchQueue(), kRetryDefaultAttempts, kRetryDefaultDelay, nullptr, std::move(work));
}

RBLPromisePtr RBLPromise::onQueueRetry(const Queue& queue, RBLRetryBlock work) {
  return onQueueAttempts(queue, kRetryDefaultAttempts, kRetryDefaultDelay, nullptr, std::move(work));
}

RBLPromisePtr RBLPromise::attempts(int64_t count, RBLRetryBlock work) {
  return onQueueAttempts(defaultDispatchQueue(), count, kRetryDefaultDelay, nullptr, std::move(work));
}

RBLPromisePtr RBLPromise::onQueueAttempts(const Queue& queue, int64_t count, RBLRetryBlock work) {
  return onQueueAttempts(queue, count, kRetryDefaultDelay, nullptr, std::move(work));
}

RBLPromisePtr RBLPromise::attempts(int64_t count, double delay, RBLRetryCondition condition, RBLRetryBlock work) {
  return onQueueAttempts(defaultDispatchQueue(), count, delay, std::move(condition), std::move(work));
}

RBLPromisePtr RBLPromise::onQueueAttempts(const Queue& queue, int64_t count, double delay,
                                          RBLRetryCondition condition, RBLRetryBlock work) {
  if (!work) platform::Exception::invalidParameter("work");
  auto retry = std::make_shared<Retry>(Retry{queue, delay, std::move(condition), std::move(work), pendingPromise()});
  RBLPromisePtr result = retry->result;
  Retry::attempt(retry, count);  // the first attempt runs here, on the calling thread
  return result;
}

RBLPromise::Property<RBLRetryBlock> RBLPromise::retry() {
  return [](RBLRetryBlock work) { return retry(std::move(work)); };
}

RBLPromise::QueueProperty<RBLRetryBlock> RBLPromise::retryOn() {
  return [](const Queue& queue, RBLRetryBlock work) { return onQueueRetry(queue, std::move(work)); };
}

RBLPromise::Property<int64_t, double, RBLRetryCondition, RBLRetryBlock> RBLPromise::retryAgain() {
  return [](int64_t count, double delay, RBLRetryCondition condition, RBLRetryBlock work) {
    return attempts(count, delay, std::move(condition), std::move(work));
  };
}

RBLPromise::QueueProperty<int64_t, double, RBLRetryCondition, RBLRetryBlock> RBLPromise::retryAgainOn() {
  return [](const Queue& queue, int64_t count, double delay, RBLRetryCondition condition, RBLRetryBlock work) {
    return onQueueAttempts(queue, count, delay, std::move(condition), std::move(work));
  };
}

// ---- wrap families ------------------------------------------------------------

namespace {

// async on queue, handing work the completion handler that adapt builds from
// async's fulfil and reject callbacks.
template <typename Completion, typename Adapt>
RBLPromisePtr wrapOnQueue(const platform::DispatchQueue& queue, RBLWrapWork<Completion> work, Adapt adapt) {
  if (!work) platform::Exception::invalidParameter("work");
  return RBLPromise::onQueueAsync(
      queue, [work = std::move(work), adapt](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
        work(Completion(adapt(std::move(fulfill), std::move(reject))));
      });
}

// Rejects with error when present, else resolves with value.
void settleWith(const RBLFulfillCallback& fulfill, const RBLRejectCallback& reject,
                const std::optional<Error>& error, RBLResolution value) {
  if (error) {
    reject(*error);
  } else {
    fulfill(std::move(value));
  }
}

}  // namespace

// The queue-taking forms, each with its completion handler.
#define RBL_WRAP_ON_QUEUE(Name, Completion, ...)                                                         \
  RBLPromisePtr RBLPromise::Name(const Queue& queue, RBLWrapWork<Completion> work) {                      \
    return wrapOnQueue<Completion>(queue, std::move(work), __VA_ARGS__);                                  \
  }

RBL_WRAP_ON_QUEUE(onQueueWrapCompletion, RBLCompletion, [](RBLFulfillCallback fulfill, RBLRejectCallback) {
  return [fulfill] { fulfill(Value()); };
})
RBL_WRAP_ON_QUEUE(onQueueWrapObjectCompletion, RBLObjectCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback) {
                    return [fulfill](Value object) { fulfill(std::move(object)); };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapErrorCompletion, RBLErrorCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
                    return [fulfill, reject](std::optional<Error> error) { settleWith(fulfill, reject, error, Value()); };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapObjectOrErrorCompletion, RBLObjectOrErrorCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
                    return [fulfill, reject](Value object, std::optional<Error> error) {
                      settleWith(fulfill, reject, error, std::move(object));
                    };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapErrorOrObjectCompletion, RBLErrorOrObjectCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
                    return [fulfill, reject](std::optional<Error> error, Value object) {
                      settleWith(fulfill, reject, error, std::move(object));
                    };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrap2ObjectsOrErrorCompletion, RBL2ObjectsOrErrorCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
                    return [fulfill, reject](Value first, Value second, std::optional<Error> error) {
                      settleWith(fulfill, reject, error, Value::array({std::move(first), std::move(second)}));
                    };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapBoolCompletion, RBLBoolCompletion, [](RBLFulfillCallback fulfill, RBLRejectCallback) {
  return [fulfill](bool value) { fulfill(Value(value)); };
})
RBL_WRAP_ON_QUEUE(onQueueWrapBoolOrErrorCompletion, RBLBoolOrErrorCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
                    return [fulfill, reject](bool value, std::optional<Error> error) {
                      settleWith(fulfill, reject, error, Value(value));
                    };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapIntegerCompletion, RBLIntegerCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback) {
                    return [fulfill](int64_t value) { fulfill(Value(value)); };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapIntegerOrErrorCompletion, RBLIntegerOrErrorCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
                    return [fulfill, reject](int64_t value, std::optional<Error> error) {
                      settleWith(fulfill, reject, error, Value(value));
                    };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapDoubleCompletion, RBLDoubleCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback) {
                    return [fulfill](double value) { fulfill(Value(value)); };
                  })
RBL_WRAP_ON_QUEUE(onQueueWrapDoubleOrErrorCompletion, RBLDoubleOrErrorCompletion,
                  [](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
                    return [fulfill, reject](double value, std::optional<Error> error) {
                      settleWith(fulfill, reject, error, Value(value));
                    };
                  })


// The default-queue form and the two block properties of each family.
#define RBL_WRAP_FORMS(Family, OnQueue, Completion)                                                       \
  RBLPromisePtr RBLPromise::Family(RBLWrapWork<Completion> work) {                                        \
    return OnQueue(defaultDispatchQueue(), std::move(work));                                             \
  }                                                                                                      \
  RBLPromise::Property<RBLWrapWork<Completion>> RBLPromise::Family() {                                    \
    return [](RBLWrapWork<Completion> work) { return Family(std::move(work)); };                          \
  }                                                                                                      \
  RBLPromise::QueueProperty<RBLWrapWork<Completion>> RBLPromise::Family##On() {                           \
    return [](const Queue& queue, RBLWrapWork<Completion> work) { return OnQueue(queue, std::move(work)); }; \
  }

RBL_WRAP_FORMS(wrapCompletion, onQueueWrapCompletion, RBLCompletion)
RBL_WRAP_FORMS(wrapObjectCompletion, onQueueWrapObjectCompletion, RBLObjectCompletion)
RBL_WRAP_FORMS(wrapErrorCompletion, onQueueWrapErrorCompletion, RBLErrorCompletion)
RBL_WRAP_FORMS(wrapObjectOrErrorCompletion, onQueueWrapObjectOrErrorCompletion, RBLObjectOrErrorCompletion)
RBL_WRAP_FORMS(wrapErrorOrObjectCompletion, onQueueWrapErrorOrObjectCompletion, RBLErrorOrObjectCompletion)
RBL_WRAP_FORMS(wrap2ObjectsOrErrorCompletion, onQueueWrap2ObjectsOrErrorCompletion, RBL2ObjectsOrErrorCompletion)
RBL_WRAP_FORMS(wrapBoolCompletion, onQueueWrapBoolCompletion, RBLBoolCompletion)
RBL_WRAP_FORMS(wrapBoolOrErrorCompletion, onQueueWrapBoolOrErrorCompletion, RBLBoolOrErrorCompletion)
RBL_WRAP_FORMS(wrapIntegerCompletion, onQueueWrapIntegerCompletion, RBLIntegerCompletion)
RBL_WRAP_FORMS(wrapIntegerOrErrorCompletion, onQueueWrapIntegerOrErrorCompletion, RBLIntegerOrErrorCompletion)
RBL_WRAP_FORMS(wrapDoubleCompletion, onQueueWrapDoubleCompletion, RBLDoubleCompletion)
RBL_WRAP_FORMS(wrapDoubleOrErrorCompletion, onQueueWrapDoubleOrErrorCompletion, RBLDoubleOrErrorCompletion)

#undef RBL_WRAP_FORMS
#undef RBL_WRAP_ON_QUEUE

// ---- await --------------------------------------------------------------------

platform::DispatchQueue RBLPromiseAwaitQueue() {
  static platform::ConcurrentQueue* queue = new platform::ConcurrentQueue("com.zoruvu.RBLPromises.Await");
  return *queue;
}

Value RBLPromiseAwait(const RBLPromisePtr& promise, std::optional<Error>* error) {
  if (!promise) platform::Exception::invalidParameter("promise");
  struct Outcome {
    platform::Semaphore done;
    Value value;
    std::optional<Error> error;
  };
  auto outcome = std::make_shared<Outcome>();
  promise->chainOnQueue(
      RBLPromiseAwaitQueue(),
      [outcome](const Value& value) -> RBLResolution {
        outcome->value = value;
        outcome->done.signal();
        return value;
      },
      [outcome](const Error& e) -> RBLResolution {
        outcome->error = e;
        outcome->done.signal();
        return e;
      });
  outcome->done.wait();
  if (error) *error = outcome->error;
  return outcome->value;
}

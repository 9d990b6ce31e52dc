// RBLPromise: the SDK's promise. It starts pending and is settled exactly once,
// fulfilled with a value or rejected with an error; the first settlement wins,
// whatever thread it comes from, and later ones are ignored.
//
// Payload: a promise is not a template. Its value is a platform::Value, the
// same dynamic tree the SDK uses everywhere, and callers' own objects ride in
// it as opaque shared pointers (see RBLResolution.h; read them back with
// value().asOpaque<T>() or valueAs<T>()). The reasons: blocks decide at run
// time whether they produce a value, an error or another promise to follow;
// all/any/race take lists that mix promises, plain values and errors; and
// any's combined array holds values and errors side by side. A template over
// T would still need this erasure in every one of those places.
//
// Handles: promises live in std::shared_ptr (RBLPromisePtr); make them with
// pendingPromise(), resolvedWith() or a combinator.
//
// Threading guarantees (stated once, for every operation here):
//  - Every callback runs on the queue given to the call, or for the forms
//    without a queue on defaultDispatchQueue() (the main queue unless changed)
//    read at the time of the call. The one exception: the first attempt of a
//    retry runs on the calling thread.
//  - A callback never runs inside the call that registered it nor inside the
//    call that settled the promise; it is always queued.
//  - Callbacks registered on one serial queue run in registration order.
//  - Settling, observing and the accessors may be called from any thread;
//    each promise guards its state with its own lock, and no user code runs
//    under it.
//  - One process-wide Group (dispatchGroup()) counts pending promises and
//    queued or running callbacks; RBLPromiseWaitUntilIdle() waits for it.
//
// Resolving with x (chains, async's fulfil callback, do's return, the wrap
// completions): a promise is followed (observed on the same queue, one level
// only), an error rejects, anything else (null included) fulfils. fulfill()
// called directly stores a promise as the value instead of following it.
//
// Names: selector-style names map as in the rest of the SDK: the
// queue-taking method `onQueue:then:` is onQueueThen(queue, work), the default
// queue method `then:` is then(work), the block property `then` is then()
// returning a callable, and `thenOn` is thenOn(). `catch` and `do` are C++
// keywords and are spelled catch_ and do_. Required blocks must not be empty:
// an empty std::function raises platform::Exception
// "Invalid parameter not satisfying: <name>".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Group.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/promises/RBLPromiseError.h"
#include "sdk/promises/RBLResolution.h"

using RBLResolutions = std::vector<RBLResolution>;

// Observation.
using RBLFulfillObserver = std::function<void(const platform::Value& value)>;
using RBLRejectObserver = std::function<void(const platform::Error& error)>;
// Chains and the combinators built on them.
using RBLThenBlock = std::function<RBLResolution(const platform::Value& value)>;
using RBLRecoverBlock = std::function<RBLResolution(const platform::Error& error)>;
using RBLCatchBlock = std::function<void(const platform::Error& error)>;
using RBLAlwaysBlock = std::function<void()>;
using RBLValidateBlock = std::function<bool(const platform::Value& value)>;
using RBLReduceBlock = std::function<RBLResolution(const platform::Value& partial, const platform::Value& item)>;
// Starting a promise from a block.
using RBLFulfillCallback = std::function<void(RBLResolution resolution)>;
using RBLRejectCallback = std::function<void(platform::Error error)>;
using RBLAsyncBlock = std::function<void(RBLFulfillCallback fulfill, RBLRejectCallback reject)>;
using RBLDoBlock = std::function<RBLResolution()>;
using RBLRetryBlock = std::function<RBLResolution()>;
using RBLRetryCondition = std::function<bool(int64_t remainingAttempts, const platform::Error& error)>;

// Completion handlers of the wrap families (callable from any thread, any
// number of times; only the first call counts).
using RBLCompletion = std::function<void()>;
using RBLObjectCompletion = std::function<void(platform::Value object)>;
using RBLErrorCompletion = std::function<void(std::optional<platform::Error> error)>;
using RBLObjectOrErrorCompletion = std::function<void(platform::Value object, std::optional<platform::Error> error)>;
using RBLErrorOrObjectCompletion = std::function<void(std::optional<platform::Error> error, platform::Value object)>;
using RBL2ObjectsOrErrorCompletion =
    std::function<void(platform::Value first, platform::Value second, std::optional<platform::Error> error)>;
using RBLBoolCompletion = std::function<void(bool value)>;
using RBLBoolOrErrorCompletion = std::function<void(bool value, std::optional<platform::Error> error)>;
using RBLIntegerCompletion = std::function<void(int64_t value)>;
using RBLIntegerOrErrorCompletion = std::function<void(int64_t value, std::optional<platform::Error> error)>;
using RBLDoubleCompletion = std::function<void(double value)>;
using RBLDoubleOrErrorCompletion = std::function<void(double value, std::optional<platform::Error> error)>;
template <typename Completion>
using RBLWrapWork = std::function<void(Completion handler)>;

class RBLPromise : public std::enable_shared_from_this<RBLPromise> {
  struct Passkey {};

 public:
  using Queue = platform::DispatchQueue;
  template <typename... Args>
  using Property = std::function<RBLPromisePtr(Args...)>;
  template <typename... Args>
  using QueueProperty = std::function<RBLPromisePtr(const Queue&, Args...)>;

  enum class State : int64_t { Pending = 0, Fulfilled = 1, Rejected = 2 };

  // ---- creation ------------------------------------------------------------
  static RBLPromisePtr pendingPromise();
  // Rejected when the resolution is an error, else fulfilled with it (a
  // promise is stored as the value, not followed).
  static RBLPromisePtr resolvedWith(RBLResolution resolution);
  static std::function<RBLPromisePtr()> pending();
  static Property<RBLResolution> resolved();

  // ---- settling and queries -----------------------------------------------
  // An error rejects; otherwise fulfils when still pending.
  void fulfill(RBLResolution value);
  void reject(platform::Error error);

  State state() const;
  bool isPending() const { return state() == State::Pending; }
  bool isFulfilled() const { return state() == State::Fulfilled; }
  bool isRejected() const { return state() == State::Rejected; }
  // The fulfilment value (null until fulfilled) and the rejection error.
  platform::Value value() const;
  std::optional<platform::Error> error() const;
  template <typename T>
  std::shared_ptr<T> valueAs() const {
    return value().asOpaque<T>();
  }

  // Keeps object alive until the promise settles; ignored once settled.
  void addPendingObject(std::shared_ptr<const void> object);

  // "<RBLPromise 0x...> Fulfilled: <value>", "... Rejected: <error>", "... Pending".
  std::string description() const;

  // ---- core: observation and chaining --------------------------------------
  // Exactly one of the blocks runs, once, on queue.
  void observeOnQueue(const Queue& queue, RBLFulfillObserver onFulfill, RBLRejectObserver onReject);
  // A new promise settled from this one's outcome: chainedFulfill(value) or
  // the value itself, chainedReject(error) or the error itself, resolved by
  // the rule in the header comment. Either block may be empty.
  RBLPromisePtr chainOnQueue(const Queue& queue, RBLThenBlock chainedFulfill, RBLRecoverBlock chainedReject);

  // ---- class-wide -----------------------------------------------------------
  static Queue defaultDispatchQueue();
  static void setDefaultDispatchQueue(const Queue& queue);
  static const platform::Group& dispatchGroup();

  // ---- then: resolve with work(value); a rejection passes through ----------
  RBLPromisePtr then(RBLThenBlock work);
  RBLPromisePtr onQueueThen(const Queue& queue, RBLThenBlock work);
  Property<RBLThenBlock> then();
  QueueProperty<RBLThenBlock> thenOn();

  // ---- catch: run reject(error) on rejection; stays rejected ----------------
  RBLPromisePtr catch_(RBLCatchBlock reject);
  RBLPromisePtr onQueueCatch(const Queue& queue, RBLCatchBlock reject);
  Property<RBLCatchBlock> catch_();
  QueueProperty<RBLCatchBlock> catchOn();

  // ---- always: run work on either outcome; outcome unchanged ----------------
  RBLPromisePtr always(RBLAlwaysBlock work);
  RBLPromisePtr onQueueAlways(const Queue& queue, RBLAlwaysBlock work);
  Property<RBLAlwaysBlock> always();
  QueueProperty<RBLAlwaysBlock> alwaysOn();

  // ---- recover: on rejection resolve with recovery(error) -------------------
  RBLPromisePtr recover(RBLRecoverBlock recovery);
  RBLPromisePtr onQueueRecover(const Queue& queue, RBLRecoverBlock recovery);
  Property<RBLRecoverBlock> recover();
  QueueProperty<RBLRecoverBlock> recoverOn();

  // ---- reduce: fold items over the value, one chained step per item --------
  // With no items the receiver itself is returned.
  RBLPromisePtr reduce(std::vector<platform::Value> items, RBLReduceBlock combine);
  RBLPromisePtr onQueueReduce(const Queue& queue, std::vector<platform::Value> items, RBLReduceBlock combine);
  Property<std::vector<platform::Value>, RBLReduceBlock> reduce();
  QueueProperty<std::vector<platform::Value>, RBLReduceBlock> reduceOn();

  // ---- delay: fulfil interval seconds after the fulfilment is seen ---------
  RBLPromisePtr delay(double interval);
  RBLPromisePtr onQueueDelay(const Queue& queue, double interval);
  Property<double> delay();
  QueueProperty<double> delayOn();

  // ---- timeout: the outcome if it comes within interval, else TimedOut -----
  RBLPromisePtr timeout(double interval);
  RBLPromisePtr onQueueTimeout(const Queue& queue, double interval);
  Property<double> timeout();
  QueueProperty<double> timeoutOn();

  // ---- validate: the value when predicate(value), else ValidationFailure ---
  RBLPromisePtr validate(RBLValidateBlock predicate);
  RBLPromisePtr onQueueValidate(const Queue& queue, RBLValidateBlock predicate);
  Property<RBLValidateBlock> validate();
  QueueProperty<RBLValidateBlock> validateOn();

  // ---- all: every value in input order, or the first error -----------------
  // A plain error element rejects at once; [] gives a fulfilled [] at once;
  // a null value stands as null in the array.
  static RBLPromisePtr all(RBLResolutions promises);
  static RBLPromisePtr onQueueAll(const Queue& queue, RBLResolutions promises);
  static Property<RBLResolutions> all();
  static QueueProperty<RBLResolutions> allOn();

  // ---- any: wait until every element settled; fulfilled with the combined
  // array (values, and errors as opaque Values; see errorFromValue) when at
  // least one element was fulfilled, else rejected with an element's error.
  static RBLPromisePtr any(RBLResolutions promises);
  static RBLPromisePtr onQueueAny(const Queue& queue, RBLResolutions promises);
  static Property<RBLResolutions> any();
  static QueueProperty<RBLResolutions> anyOn();

  // ---- race: the first element to settle decides; a plain element decides
  // at once. An empty list raises "No promises to observe".
  static RBLPromisePtr race(RBLResolutions promises);
  static RBLPromisePtr onQueueRace(const Queue& queue, RBLResolutions promises);
  static Property<RBLResolutions> race();
  static QueueProperty<RBLResolutions> raceOn();

  // ---- async: work(fulfill, reject) on the queue ---------------------------
  static RBLPromisePtr async(RBLAsyncBlock work);
  static RBLPromisePtr onQueueAsync(const Queue& queue, RBLAsyncBlock work);
  static Property<RBLAsyncBlock> async();
  static QueueProperty<RBLAsyncBlock> asyncOn();

  // ---- do: resolve with work() run on the queue (no plain block property) --
  static RBLPromisePtr do_(RBLDoBlock work);
  static RBLPromisePtr onQueueDo(const Queue& queue, RBLDoBlock work);
  static QueueProperty<RBLDoBlock> doOn();

  // ---- retry: call work until it gives a non-error, at most attempts + 1
  // times, delay seconds apart, while condition(remaining, error) allows.
  // Defaults: 1 attempt, 1.0 s, no condition. The first call runs at once on
  // the calling thread, later ones on the queue.
  static constexpr int64_t kRetryDefaultAttempts = 1;
  static constexpr double kRetryDefaultDelay = 1.0;
  static RBLPromisePtr retry(RBLRetryBlock work);
  static RBLPromisePtr onQueueRetry(const Queue& queue, RBLRetryBlock work);
  static RBLPromisePtr attempts(int64_t count, RBLRetryBlock work);
  static RBLPromisePtr onQueueAttempts(const Queue& queue, int64_t count, RBLRetryBlock work);
  static RBLPromisePtr attempts(int64_t count, double delay, RBLRetryCondition condition, RBLRetryBlock work);
  static RBLPromisePtr onQueueAttempts(const Queue& queue, int64_t count, double delay,
                                       RBLRetryCondition condition, RBLRetryBlock work);
  static Property<RBLRetryBlock> retry();
  static QueueProperty<RBLRetryBlock> retryOn();
  static Property<int64_t, double, RBLRetryCondition, RBLRetryBlock> retryAgain();
  static QueueProperty<int64_t, double, RBLRetryCondition, RBLRetryBlock> retryAgainOn();

  // ---- wrap: work(handler) on the queue; the handler's arguments decide ----
  // Completion: fulfilled with null. Object: resolved with it. Error: rejected
  // with it when present, else fulfilled with null. ObjectOrError and
  // ErrorOrObject: rejected with the error when present, else resolved with
  // the object. 2ObjectsOrError: else fulfilled with [first, second]. Bool,
  // Integer, Double: fulfilled with the number; the OrError forms reject with
  // the error when present.
  static RBLPromisePtr wrapCompletion(RBLWrapWork<RBLCompletion> work);
  static RBLPromisePtr onQueueWrapCompletion(const Queue& queue, RBLWrapWork<RBLCompletion> work);
  static Property<RBLWrapWork<RBLCompletion>> wrapCompletion();
  static QueueProperty<RBLWrapWork<RBLCompletion>> wrapCompletionOn();

  static RBLPromisePtr wrapObjectCompletion(RBLWrapWork<RBLObjectCompletion> work);
  static RBLPromisePtr onQueueWrapObjectCompletion(const Queue& queue, RBLWrapWork<RBLObjectCompletion> work);
  static Property<RBLWrapWork<RBLObjectCompletion>> wrapObjectCompletion();
  static QueueProperty<RBLWrapWork<RBLObjectCompletion>> wrapObjectCompletionOn();

  static RBLPromisePtr wrapErrorCompletion(RBLWrapWork<RBLErrorCompletion> work);
  static RBLPromisePtr onQueueWrapErrorCompletion(const Queue& queue, RBLWrapWork<RBLErrorCompletion> work);
  static Property<RBLWrapWork<RBLErrorCompletion>> wrapErrorCompletion();
  static QueueProperty<RBLWrapWork<RBLErrorCompletion>> wrapErrorCompletionOn();

  static RBLPromisePtr wrapObjectOrErrorCompletion(RBLWrapWork<RBLObjectOrErrorCompletion> work);
  static RBLPromisePtr onQueueWrapObjectOrErrorCompletion(const Queue& queue,
                                                          RBLWrapWork<RBLObjectOrErrorCompletion> work);
  static Property<RBLWrapWork<RBLObjectOrErrorCompletion>> wrapObjectOrErrorCompletion();
  static QueueProperty<RBLWrapWork<RBLObjectOrErrorCompletion>> wrapObjectOrErrorCompletionOn();

  static RBLPromisePtr wrapErrorOrObjectCompletion(RBLWrapWork<RBLErrorOrObjectCompletion> work);
  static RBLPromisePtr onQueueWrapErrorOrObjectCompletion(const Queue& queue,
                                                          RBLWrapWork<RBLErrorOrObjectCompletion> work);
  static Property<RBLWrapWork<RBLErrorOrObjectCompletion>> wrapErrorOrObjectCompletion();
  static QueueProperty<RBLWrapWork<RBLErrorOrObjectCompletion>> wrapErrorOrObjectCompletionOn();

  static RBLPromisePtr wrap2ObjectsOrErrorCompletion(RBLWrapWork<RBL2ObjectsOrErrorCompletion> work);
  static RBLPromisePtr onQueueWrap2ObjectsOrErrorCompletion(const Queue& queue,
                                                            RBLWrapWork<RBL2ObjectsOrErrorCompletion> work);
  static Property<RBLWrapWork<RBL2ObjectsOrErrorCompletion>> wrap2ObjectsOrErrorCompletion();
  static QueueProperty<RBLWrapWork<RBL2ObjectsOrErrorCompletion>> wrap2ObjectsOrErrorCompletionOn();

  static RBLPromisePtr wrapBoolCompletion(RBLWrapWork<RBLBoolCompletion> work);
  static RBLPromisePtr onQueueWrapBoolCompletion(const Queue& queue, RBLWrapWork<RBLBoolCompletion> work);
  static Property<RBLWrapWork<RBLBoolCompletion>> wrapBoolCompletion();
  static QueueProperty<RBLWrapWork<RBLBoolCompletion>> wrapBoolCompletionOn();

  static RBLPromisePtr wrapBoolOrErrorCompletion(RBLWrapWork<RBLBoolOrErrorCompletion> work);
  static RBLPromisePtr onQueueWrapBoolOrErrorCompletion(const Queue& queue,
                                                        RBLWrapWork<RBLBoolOrErrorCompletion> work);
  static Property<RBLWrapWork<RBLBoolOrErrorCompletion>> wrapBoolOrErrorCompletion();
  static QueueProperty<RBLWrapWork<RBLBoolOrErrorCompletion>> wrapBoolOrErrorCompletionOn();

  static RBLPromisePtr wrapIntegerCompletion(RBLWrapWork<RBLIntegerCompletion> work);
  static RBLPromisePtr onQueueWrapIntegerCompletion(const Queue& queue, RBLWrapWork<RBLIntegerCompletion> work);
  static Property<RBLWrapWork<RBLIntegerCompletion>> wrapIntegerCompletion();
  static QueueProperty<RBLWrapWork<RBLIntegerCompletion>> wrapIntegerCompletionOn();

  static RBLPromisePtr wrapIntegerOrErrorCompletion(RBLWrapWork<RBLIntegerOrErrorCompletion> work);
  static RBLPromisePtr onQueueWrapIntegerOrErrorCompletion(const Queue& queue,
                                                           RBLWrapWork<RBLIntegerOrErrorCompletion> work);
  static Property<RBLWrapWork<RBLIntegerOrErrorCompletion>> wrapIntegerOrErrorCompletion();
  static QueueProperty<RBLWrapWork<RBLIntegerOrErrorCompletion>> wrapIntegerOrErrorCompletionOn();

  static RBLPromisePtr wrapDoubleCompletion(RBLWrapWork<RBLDoubleCompletion> work);
  static RBLPromisePtr onQueueWrapDoubleCompletion(const Queue& queue, RBLWrapWork<RBLDoubleCompletion> work);
  static Property<RBLWrapWork<RBLDoubleCompletion>> wrapDoubleCompletion();
  static QueueProperty<RBLWrapWork<RBLDoubleCompletion>> wrapDoubleCompletionOn();

  static RBLPromisePtr wrapDoubleOrErrorCompletion(RBLWrapWork<RBLDoubleOrErrorCompletion> work);
  static RBLPromisePtr onQueueWrapDoubleOrErrorCompletion(const Queue& queue,
                                                          RBLWrapWork<RBLDoubleOrErrorCompletion> work);
  static Property<RBLWrapWork<RBLDoubleOrErrorCompletion>> wrapDoubleOrErrorCompletion();
  static QueueProperty<RBLWrapWork<RBLDoubleOrErrorCompletion>> wrapDoubleOrErrorCompletionOn();

  // ---- helpers for any's combined array ------------------------------------
  static platform::Value errorAsValue(platform::Error error);
  static std::optional<platform::Error> errorFromValue(const platform::Value& value);

  // Use pendingPromise() / resolvedWith().
  RBLPromise(Passkey, State state, platform::Value value, std::optional<platform::Error> error);
  ~RBLPromise();
  RBLPromise(const RBLPromise&) = delete;
  RBLPromise& operator=(const RBLPromise&) = delete;

 private:
  using Observer = std::function<void(State, const platform::Value&, const std::optional<platform::Error>&)>;

  void settle(State state, platform::Value value, std::optional<platform::Error> error);

  mutable std::recursive_mutex m_mutex;
  State m_state;
  std::vector<std::shared_ptr<const void>> m_pendingObjects;
  platform::Value m_value;
  std::optional<platform::Error> m_error;
  std::vector<Observer> m_observers;
};

// Blocks the calling thread until promise settles and returns its value (null
// after a rejection); stores the error in *error when given (empty after a
// fulfilment). Its own callbacks run on the concurrent queue
// "com.zoruvu.RBLPromises.Await", so it does not need the caller's queue; never
// await a promise whose settling needs work from the waiting thread or queue.
platform::Value RBLPromiseAwait(const RBLPromisePtr& promise, std::optional<platform::Error>* error = nullptr);

// Test support: waits (real time) until no promise is pending and no promise
// callback is queued or running. On the main thread it pumps the main queue
// meanwhile. True when idle before the timeout.
bool RBLPromiseWaitUntilIdle(double timeoutSeconds);

// The await queue (one process-wide concurrent queue, created on first use).
platform::DispatchQueue RBLPromiseAwaitQueue();

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/values/Exception.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/promises/tests/PromiseTesting.h"

namespace {

using platform::Error;
using platform::Value;
using promises_testing::PromiseTest;
using promises_testing::testError;
using promises_testing::waitSettled;
using State = RBLPromise::State;

class RBLPromiseCoreTest : public PromiseTest {};

TEST_F(RBLPromiseCoreTest, ResolvedWithRejectsOnAnErrorAndFulfilsOnAnythingElse) {
  struct Case {
    const char* name;
    RBLResolution resolution;
    State state;
    Value value;
  };
  const Case cases[] = {
      {"nil", RBLResolution(), State::Fulfilled, Value()},
      {"number", 5, State::Fulfilled, Value(5)},
      {"string", "text", State::Fulfilled, Value("text")},
      {"error", testError(7), State::Rejected, Value()},
      {"error inside a value", RBLPromise::errorAsValue(testError(7)), State::Rejected, Value()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RBLPromisePtr promise = RBLPromise::resolvedWith(c.resolution);
    EXPECT_EQ(promise->state(), c.state);
    EXPECT_EQ(promise->value(), c.value);
    EXPECT_EQ(promise->error().has_value(), c.state == State::Rejected);
    if (promise->error()) {
      EXPECT_EQ(*promise->error(), testError(7));
    }
  }
}

TEST_F(RBLPromiseCoreTest, FirstSettlementWinsAndObserversRunOnce) {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  int fulfilled = 0;
  std::vector<Error> rejected;
  promise->observeOnQueue(
      platform::mainQueue(), [&](const Value&) { ++fulfilled; }, [&](const Error& e) { rejected.push_back(e); });

  promise->fulfill(testError(1));  // an error given to fulfil rejects
  promise->fulfill(3);
  promise->reject(testError(2));
  runFor(0.05);

  EXPECT_TRUE(promise->isRejected());
  EXPECT_EQ(*promise->error(), testError(1));
  EXPECT_TRUE(promise->value().isNull());
  EXPECT_EQ(fulfilled, 0);
  ASSERT_EQ(rejected.size(), 1u);
  EXPECT_EQ(rejected[0], testError(1));
}

TEST_F(RBLPromiseCoreTest, ConcurrentSettlersHaveExactlyOneWinner) {
  for (int round = 0; round < 50; ++round) {
    RBLPromisePtr promise = RBLPromise::pendingPromise();
    std::atomic<int> calls{0};
    platform::SerialQueue queue("test.promises.winner");
    promise->observeOnQueue(
        queue, [&](const Value&) { ++calls; }, [&](const Error&) { ++calls; });
    std::vector<std::thread> settlers;
    for (int i = 0; i < 4; ++i) {
      settlers.emplace_back([promise, i] {
        if (i % 2) {
          promise->fulfill(i);
        } else {
          promise->reject(testError(i));
        }
      });
    }
    for (auto& t : settlers) t.join();
    queue.sync([] {});
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(promise->isPending());
  }
}

TEST_F(RBLPromiseCoreTest, CallbacksNeverRunInsideTheRegisteringOrSettlingCall) {
  // Registered while pending, settled later: not inside fulfill().
  RBLPromisePtr pending = RBLPromise::pendingPromise();
  bool ranPending = false;
  pending->observeOnQueue(
      platform::mainQueue(), [&](const Value&) { ranPending = true; }, [](const Error&) {});
  pending->fulfill(1);
  EXPECT_FALSE(ranPending);

  // Registered on an already settled promise: not inside observeOnQueue() / then().
  RBLPromisePtr settled = RBLPromise::resolvedWith(2);
  bool ranSettled = false;
  bool onMain = false;
  RBLPromisePtr chained = settled->then([&](const Value& v) {
    ranSettled = true;
    onMain = platform::isMainThread();
    return v;
  });
  EXPECT_FALSE(ranSettled);
  EXPECT_TRUE(chained->isPending());

  ASSERT_TRUE(waitSettled(chained));
  EXPECT_TRUE(ranPending);
  EXPECT_TRUE(ranSettled);
  EXPECT_TRUE(onMain) << "the queue-less forms run on the main queue";
}

TEST_F(RBLPromiseCoreTest, CallbacksRunOnTheGivenQueueInRegistrationOrder) {
  platform::SerialQueue queue("test.promises.order");
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  std::vector<int> order;  // touched only on queue
  std::vector<std::string> labels;
  auto record = [&](int n) {
    return [&, n](const Value&) -> RBLResolution {
      order.push_back(n);
      labels.push_back(platform::currentQueueLabel());
      return n;
    };
  };
  std::vector<RBLPromisePtr> results;
  for (int i = 0; i < 50; ++i) results.push_back(promise->onQueueThen(queue, record(i)));
  promise->fulfill(0);
  for (int i = 50; i < 100; ++i) results.push_back(promise->onQueueThen(queue, record(i)));
  queue.sync([] {});

  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  for (const auto& label : labels) EXPECT_EQ(label, "test.promises.order");
}

TEST_F(RBLPromiseCoreTest, ChainResolvesByTheResolvingRule) {
  RBLPromisePtr inner = RBLPromise::pendingPromise();
  RBLPromisePtr innerOfInner = RBLPromise::resolvedWith(9);
  struct Case {
    const char* name;
    RBLPromisePtr source;
    RBLThenBlock onFulfill;
    RBLRecoverBlock onReject;
    std::function<void()> afterChaining;
    State state;
    std::function<bool(const RBLPromisePtr&)> check;
  };
  const Case cases[] = {
      {"fulfil block returns an error", RBLPromise::resolvedWith(1),
       [](const Value&) -> RBLResolution { return testError(3); }, nullptr, nullptr, State::Rejected,
       [](const RBLPromisePtr& p) { return *p->error() == testError(3); }},
      {"reject block returns a value", RBLPromise::resolvedWith(testError(1)), nullptr,
       [](const Error&) -> RBLResolution { return 42; }, nullptr, State::Fulfilled,
       [](const RBLPromisePtr& p) { return p->value() == Value(42); }},
      {"no blocks pass a value through", RBLPromise::resolvedWith("v"), nullptr, nullptr, nullptr,
       State::Fulfilled, [](const RBLPromisePtr& p) { return p->value() == Value("v"); }},
      {"no blocks pass an error through", RBLPromise::resolvedWith(testError(4)), nullptr, nullptr, nullptr,
       State::Rejected, [](const RBLPromisePtr& p) { return *p->error() == testError(4); }},
      {"returned pending promise is followed", RBLPromise::resolvedWith(1),
       [inner](const Value&) -> RBLResolution { return inner; }, nullptr, [inner] { inner->reject(testError(5)); },
       State::Rejected, [](const RBLPromisePtr& p) { return *p->error() == testError(5); }},
      {"only one level is followed", RBLPromise::resolvedWith(1),
       [innerOfInner](const Value&) -> RBLResolution {
         RBLPromisePtr outer = RBLPromise::pendingPromise();
         outer->fulfill(innerOfInner);  // fulfil stores a promise, it does not follow it
         return outer;
       },
       nullptr, nullptr, State::Fulfilled,
       [innerOfInner](const RBLPromisePtr& p) { return p->valueAs<RBLPromise>() == innerOfInner; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RBLPromisePtr result = c.source->chainOnQueue(platform::mainQueue(), c.onFulfill, c.onReject);
    runFor(0.02);
    if (c.afterChaining) {
      EXPECT_TRUE(result->isPending());
      c.afterChaining();
    }
    ASSERT_TRUE(waitSettled(result));
    EXPECT_EQ(result->state(), c.state);
    EXPECT_TRUE(c.check(result)) << result->description();
  }
}

TEST_F(RBLPromiseCoreTest, DescriptionNamesTheStateAndAddress) {
  RBLPromisePtr pending = RBLPromise::pendingPromise();
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<void*>(pending.get()));
  EXPECT_EQ(pending->description(), "<RBLPromise " + std::string(address) + "> Pending");
  pending->fulfill(Value::array({1, "a"}));
  EXPECT_EQ(pending->description(), "<RBLPromise " + std::string(address) + "> Fulfilled: [1, \"a\"]");
  RBLPromisePtr rejected = RBLPromise::resolvedWith(Error("d", 3));
  EXPECT_NE(rejected->description().find("> Rejected: Error Domain=d Code=3"), std::string::npos);
}

TEST_F(RBLPromiseCoreTest, IdleWaitSeesPendingPromisesAndReleasedOnes) {
  {
    RBLPromisePtr held = RBLPromise::pendingPromise();
    EXPECT_FALSE(RBLPromiseWaitUntilIdle(0.05));
  }
  // Released while still pending, with a chain hanging off it.
  {
    RBLPromisePtr abandoned = RBLPromise::pendingPromise();
    abandoned->then([](const Value& v) { return v; });
  }
  EXPECT_TRUE(RBLPromiseWaitUntilIdle(1));

  // Callbacks queued on the main queue count, and the wait pumps them.
  bool ran = false;
  RBLPromise::resolvedWith(1)->then([&](const Value& v) {
    ran = true;
    return v;
  });
  EXPECT_TRUE(RBLPromiseWaitUntilIdle(5));
  EXPECT_TRUE(ran);
}

TEST_F(RBLPromiseCoreTest, PendingObjectsLiveUntilSettlement) {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  auto object = std::make_shared<int>(1);
  std::weak_ptr<int> watch = object;
  promise->addPendingObject(std::move(object));
  EXPECT_FALSE(watch.expired());
  promise->fulfill(1);
  EXPECT_TRUE(watch.expired());

  auto late = std::make_shared<int>(2);
  promise->addPendingObject(late);
  EXPECT_EQ(late.use_count(), 1) << "ignored once settled";
}

TEST_F(RBLPromiseCoreTest, DefaultQueueIsReadAtTheTimeOfTheCall) {
  platform::SerialQueue queue("test.promises.default");
  RBLPromise::setDefaultDispatchQueue(queue);
  std::string label;
  RBLPromisePtr result = RBLPromise::resolvedWith(1)->then([&](const Value& v) {
    label = platform::currentQueueLabel();
    return v;
  });
  RBLPromise::setDefaultDispatchQueue(platform::mainQueue());
  ASSERT_TRUE(waitSettled(result));
  EXPECT_EQ(label, "test.promises.default");
  EXPECT_TRUE(RBLPromise::defaultDispatchQueue() == platform::mainQueue());
}

TEST_F(RBLPromiseCoreTest, MissingRequiredArgumentsRaise) {
  RBLPromisePtr promise = RBLPromise::resolvedWith(1);
  const auto q = platform::mainQueue();
  struct Case {
    std::string reason;
    std::function<void()> call;
  };
  const std::string invalid = "Invalid parameter not satisfying: ";
  const Case cases[] = {
      {invalid + "onFulfill", [&] { promise->observeOnQueue(q, nullptr, [](const Error&) {}); }},
      {invalid + "onReject", [&] { promise->observeOnQueue(q, [](const Value&) {}, nullptr); }},
      {invalid + "object", [&] { promise->addPendingObject(nullptr); }},
      {invalid + "work", [&] { promise->then(nullptr); }},
      {invalid + "reject", [&] { promise->catch_(nullptr); }},
      {invalid + "recovery", [&] { promise->recover(nullptr); }},
      {invalid + "predicate", [&] { promise->validate(nullptr); }},
      {invalid + "reducer", [&] { promise->reduce({1}, nullptr); }},
      {invalid + "work", [&] { RBLPromise::async(nullptr); }},
      {invalid + "work", [&] { RBLPromise::attempts(2, nullptr); }},
      {invalid + "work", [&] { RBLPromise::wrapBoolCompletion(nullptr); }},
      {invalid + "promise", [&] { RBLPromiseAwait(nullptr); }},
      {"No promises to observe", [&] { RBLPromise::race({}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.name, platform::Exception::kInternalInconsistencyException);
      EXPECT_EQ(e.reason, c.reason);
    }
  }
}

}  // namespace

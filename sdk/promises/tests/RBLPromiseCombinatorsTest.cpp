#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/promises/tests/PromiseTesting.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Error;
using platform::Value;
using promises_testing::PromiseTest;
using promises_testing::testError;
using promises_testing::waitSettled;
using State = RBLPromise::State;

// An expected outcome: a value or an error.
struct Expect {
  State state;
  Value value;
  std::optional<Error> error;
  static Expect fulfilled(Value v) { return {State::Fulfilled, std::move(v), std::nullopt}; }
  static Expect rejected(Error e) { return {State::Rejected, Value(), std::move(e)}; }
};

void expectOutcome(const RBLPromisePtr& promise, const Expect& expect) {
  ASSERT_TRUE(waitSettled(promise)) << "still pending";
  EXPECT_EQ(promise->state(), expect.state) << promise->description();
  if (expect.state == State::Fulfilled) {
    EXPECT_EQ(promise->value(), expect.value) << promise->description();
  } else {
    ASSERT_TRUE(promise->error().has_value());
    EXPECT_EQ(*promise->error(), *expect.error);
  }
}

class RBLPromiseCombinatorsTest : public PromiseTest {};

// ---- chains ---------------------------------------------------------------------

TEST_F(RBLPromiseCombinatorsTest, ChainFamiliesOnFulfilmentAndRejection) {
  const Error e = testError(1);
  struct Case {
    const char* name;
    RBLResolution source;
    std::function<RBLPromisePtr(const RBLPromisePtr&, int& calls)> apply;
    Expect expect;
    int calls;
  };
  auto thenPlusOne = [](const RBLPromisePtr& p, int& calls) {
    return p->then([&calls](const Value& v) -> RBLResolution {
      ++calls;
      return v.integerValue() + 1;
    });
  };
  auto catchIt = [](const RBLPromisePtr& p, int& calls) { return p->catch_([&calls](const Error&) { ++calls; }); };
  auto alwaysIt = [](const RBLPromisePtr& p, int& calls) { return p->always([&calls] { ++calls; }); };
  auto recover42 = [](const RBLPromisePtr& p, int& calls) {
    return p->recover([&calls](const Error&) -> RBLResolution {
      ++calls;
      return 42;
    });
  };
  auto recoverToError = [](const RBLPromisePtr& p, int& calls) {
    return p->recover([&calls](const Error&) -> RBLResolution {
      ++calls;
      return testError(9);
    });
  };
  auto validateEven = [](const RBLPromisePtr& p, int& calls) {
    return p->validate([&calls](const Value& v) {
      ++calls;
      return v.integerValue() % 2 == 0;
    });
  };
  const Case cases[] = {
      {"then on value", 1, thenPlusOne, Expect::fulfilled(2L), 1},
      {"then passes rejection", e, thenPlusOne, Expect::rejected(e), 0},
      {"catch passes value", 1, catchIt, Expect::fulfilled(1), 0},
      {"catch runs and stays rejected", e, catchIt, Expect::rejected(e), 1},
      {"always on value", 1, alwaysIt, Expect::fulfilled(1), 1},
      {"always on error", e, alwaysIt, Expect::rejected(e), 1},
      {"recover passes value", 1, recover42, Expect::fulfilled(1), 0},
      {"recover turns error into 42", e, recover42, Expect::fulfilled(42), 1},
      {"recover returning an error", e, recoverToError, Expect::rejected(testError(9)), 1},
      {"validate yes", 2, validateEven, Expect::fulfilled(2), 1},
      {"validate no", 3, validateEven,
       Expect::rejected(RBLPromiseMakeError(RBLPromiseErrorCode::ValidationFailure)), 1},
      {"validate keeps the receiver's error", e, validateEven, Expect::rejected(e), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    RBLPromisePtr result = c.apply(RBLPromise::resolvedWith(c.source), calls);
    expectOutcome(result, c.expect);
    EXPECT_EQ(calls, c.calls);
  }
  EXPECT_EQ(RBLPromiseErrorDomain, std::string("com.zoruvu.RBLPromises.Error"));
  EXPECT_EQ(static_cast<int>(RBLPromiseErrorCode::ValidationFailure), 2);
}

TEST_F(RBLPromiseCombinatorsTest, BlockPropertyFormsCallTheirMethods) {
  platform::SerialQueue queue("test.promises.forms");
  std::string label;
  RBLPromisePtr viaProperty = RBLPromise::resolvedWith(1)->then()([](const Value& v) -> RBLResolution {
    return v.integerValue() * 10;
  });
  RBLPromisePtr viaQueueProperty =
      viaProperty->thenOn()(queue, [&](const Value& v) -> RBLResolution {
        label = platform::currentQueueLabel();
        return v.integerValue() + 1;
      });
  expectOutcome(viaQueueProperty, Expect::fulfilled(11L));
  EXPECT_EQ(label, "test.promises.forms");
  expectOutcome(RBLPromise::retryAgain()(0, 0.0, nullptr, [] { return 5; }), Expect::fulfilled(5));
  expectOutcome(RBLPromise::doOn()(queue, [] { return 6; }), Expect::fulfilled(6));
  expectOutcome(RBLPromise::resolved()(testError(2))->catchOn()(queue, [](const Error&) {}),
                Expect::rejected(testError(2)));
}

TEST_F(RBLPromiseCombinatorsTest, ReduceFoldsItemsAndStopsAtARejection) {
  auto add = [](const Value& partial, const Value& item) -> RBLResolution {
    return partial.integerValue() + item.integerValue();
  };
  expectOutcome(RBLPromise::resolvedWith(0)->reduce({1, 2, 3}, add), Expect::fulfilled(6L));

  RBLPromisePtr source = RBLPromise::resolvedWith(0);
  EXPECT_EQ(source->reduce({}, add), source) << "no items: the receiver itself";

  std::vector<int64_t> seen;
  RBLPromisePtr stopped = RBLPromise::resolvedWith(0)->reduce({1, 2, 3}, [&](const Value& partial, const Value& item) {
    seen.push_back(item.integerValue());
    if (item.integerValue() == 2) return RBLResolution(testError(2));
    return RBLResolution(partial.integerValue() + item.integerValue());
  });
  expectOutcome(stopped, Expect::rejected(testError(2)));
  EXPECT_EQ(seen, (std::vector<int64_t>{1, 2}));
}

// ---- all, any, race ---------------------------------------------------------------

TEST_F(RBLPromiseCombinatorsTest, AllCollectsValuesInOrderOrTheFirstError) {
  RBLPromisePtr empty = RBLPromise::all({});
  EXPECT_TRUE(empty->isFulfilled()) << "already fulfilled when returned";
  EXPECT_EQ(empty->value(), Value::array());

  RBLPromisePtr late = RBLPromise::pendingPromise();
  RBLPromisePtr mixed = RBLPromise::all({late, 2, RBLPromise::resolvedWith(nullptr)});
  runFor(0.02);
  EXPECT_TRUE(mixed->isPending());
  late->fulfill(1);
  expectOutcome(mixed, Expect::fulfilled(Value::array({1, 2, Value()})));

  RBLPromisePtr stillPending = RBLPromise::pendingPromise();
  expectOutcome(RBLPromise::all({stillPending, testError(3)}), Expect::rejected(testError(3)));
  EXPECT_TRUE(stillPending->isPending());
  stillPending->fulfill(0);

  RBLPromisePtr failing = RBLPromise::pendingPromise();
  RBLPromisePtr rejected = RBLPromise::all({RBLPromise::resolvedWith(1), failing, RBLPromise::pendingPromise()});
  failing->reject(testError(4));
  expectOutcome(rejected, Expect::rejected(testError(4)));
}

TEST_F(RBLPromiseCombinatorsTest, AnyWaitsForEveryElementThenCombines) {
  platform::SerialQueue queue("test.promises.any");
  // Both already rejected: the first callback to run finds nothing pending.
  expectOutcome(RBLPromise::onQueueAny(queue, {RBLPromise::resolvedWith(testError(1)),
                                               RBLPromise::resolvedWith(testError(2))}),
                Expect::rejected(testError(1)));

  RBLPromisePtr combined = RBLPromise::any({RBLPromise::resolvedWith(testError(1)), RBLPromise::resolvedWith(5)});
  ASSERT_TRUE(waitSettled(combined));
  ASSERT_TRUE(combined->isFulfilled());
  const Value& array = combined->value();
  ASSERT_EQ(array.asArray()->size(), 2u);
  EXPECT_EQ(RBLPromise::errorFromValue(array[0]), testError(1));
  EXPECT_EQ(array[1], Value(5));

  // A plain error element is a rejected element, not an immediate rejection.
  RBLPromisePtr late = RBLPromise::pendingPromise();
  RBLPromisePtr waiting = RBLPromise::any({testError(3), late});
  runFor(0.02);
  EXPECT_TRUE(waiting->isPending());
  late->fulfill("ok");
  ASSERT_TRUE(waitSettled(waiting));
  EXPECT_EQ(waiting->value()[1], Value("ok"));

  EXPECT_EQ(RBLPromise::any({})->value(), Value::array());
}

TEST_F(RBLPromiseCombinatorsTest, RaceTakesTheFirstToSettle) {
  RBLPromisePtr pending = RBLPromise::pendingPromise();
  expectOutcome(RBLPromise::race({pending, 7}), Expect::fulfilled(7));

  RBLPromisePtr slow = RBLPromise::pendingPromise();
  RBLPromisePtr fast = RBLPromise::pendingPromise();
  RBLPromisePtr race = RBLPromise::race({slow, fast});
  runFor(0.02);
  fast->reject(testError(8));
  expectOutcome(race, Expect::rejected(testError(8)));
  slow->fulfill(1);
  runFor(0.02);
  EXPECT_TRUE(race->isRejected());
  pending->fulfill(0);
}

// ---- async, do, wrap ---------------------------------------------------------------

TEST_F(RBLPromiseCombinatorsTest, AsyncAndDoResolveByTheResolvingRule) {
  platform::SerialQueue queue("test.promises.async");
  std::string label;
  RBLPromisePtr fromThread = RBLPromise::onQueueAsync(queue, [&](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
    label = platform::currentQueueLabel();
    std::thread([fulfill, reject] {
      fulfill("first");
      reject(testError(1));
      fulfill("second");
    }).detach();
  });
  expectOutcome(fromThread, Expect::fulfilled("first"));
  EXPECT_EQ(label, "test.promises.async");

  RBLPromisePtr inner = RBLPromise::pendingPromise();
  RBLPromisePtr following = RBLPromise::async([inner](RBLFulfillCallback fulfill, RBLRejectCallback) { fulfill(inner); });
  runFor(0.02);
  EXPECT_TRUE(following->isPending());
  inner->fulfill(3);
  expectOutcome(following, Expect::fulfilled(3));

  expectOutcome(RBLPromise::do_([] { return 4; }), Expect::fulfilled(4));
  expectOutcome(RBLPromise::onQueueDo(queue, []() -> RBLResolution { return testError(5); }),
                Expect::rejected(testError(5)));
  expectOutcome(RBLPromise::do_([]() -> RBLResolution { return RBLPromise::resolvedWith(6); }),
                Expect::fulfilled(6));
}

TEST_F(RBLPromiseCombinatorsTest, WrapFamiliesSettleFromTheFirstCompletionCall) {
  const Error e = testError(1);
  const std::optional<Error> none;
  struct Case {
    const char* name;
    std::function<RBLPromisePtr()> make;
    Expect expect;
  };
  // Each handler is called twice; the second call must change nothing.
  const Case cases[] = {
      {"completion", [] { return RBLPromise::wrapCompletion([](RBLCompletion h) { h(); h(); }); },
       Expect::fulfilled(Value())},
      {"object", [] { return RBLPromise::wrapObjectCompletion([](RBLObjectCompletion h) { h("o"); h("x"); }); },
       Expect::fulfilled("o")},
      {"object that is an error",
       [e] { return RBLPromise::wrapObjectCompletion([e](RBLObjectCompletion h) { h(RBLPromise::errorAsValue(e)); }); },
       Expect::rejected(e)},
      {"error nil", [none] { return RBLPromise::wrapErrorCompletion([none](RBLErrorCompletion h) { h(none); }); },
       Expect::fulfilled(Value())},
      {"error", [e] { return RBLPromise::wrapErrorCompletion([e](RBLErrorCompletion h) { h(e); h(std::nullopt); }); },
       Expect::rejected(e)},
      {"object or error: value",
       [e] {
         return RBLPromise::wrapObjectOrErrorCompletion([e](RBLObjectOrErrorCompletion h) {
           h("v", std::nullopt);
           h("w", e);
         });
       },
       Expect::fulfilled("v")},
      {"object or error: both", [e] {
         return RBLPromise::wrapObjectOrErrorCompletion([e](RBLObjectOrErrorCompletion h) { h("v", e); });
       }, Expect::rejected(e)},
      {"error or object", [] {
         return RBLPromise::wrapErrorOrObjectCompletion([](RBLErrorOrObjectCompletion h) { h(std::nullopt, 8); });
       }, Expect::fulfilled(8)},
      {"two objects with a nil", [] {
         return RBLPromise::wrap2ObjectsOrErrorCompletion(
             [](RBL2ObjectsOrErrorCompletion h) { h(Value(), "b", std::nullopt); });
       }, Expect::fulfilled(Value::array({Value(), "b"}))},
      {"two objects and an error", [e] {
         return RBLPromise::wrap2ObjectsOrErrorCompletion([e](RBL2ObjectsOrErrorCompletion h) { h(1, 2, e); });
       }, Expect::rejected(e)},
      {"bool", [] { return RBLPromise::wrapBoolCompletion([](RBLBoolCompletion h) { h(true); h(false); }); },
       Expect::fulfilled(true)},
      {"bool or error", [e] {
         return RBLPromise::wrapBoolOrErrorCompletion([e](RBLBoolOrErrorCompletion h) { h(true, e); });
       }, Expect::rejected(e)},
      {"integer", [] { return RBLPromise::wrapIntegerCompletion([](RBLIntegerCompletion h) { h(-5); }); },
       Expect::fulfilled(int64_t{-5})},
      {"integer or error", [] {
         return RBLPromise::wrapIntegerOrErrorCompletion([](RBLIntegerOrErrorCompletion h) { h(9, std::nullopt); });
       }, Expect::fulfilled(int64_t{9})},
      {"double", [] { return RBLPromise::wrapDoubleCompletion([](RBLDoubleCompletion h) { h(2.5); }); },
       Expect::fulfilled(2.5)},
      {"double or error", [e] {
         return RBLPromise::wrapDoubleOrErrorCompletion([e](RBLDoubleOrErrorCompletion h) { h(2.5, e); });
       }, Expect::rejected(e)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectOutcome(c.make(), c.expect);
  }

  // A handler called later from another thread.
  RBLPromisePtr later = RBLPromise::wrapObjectOrErrorCompletionOn()(
      platform::SerialQueue("test.promises.wrap"), [](RBLObjectOrErrorCompletion h) {
        std::thread([h] { h("late", std::nullopt); }).detach();
      });
  expectOutcome(later, Expect::fulfilled("late"));
}

// ---- await ---------------------------------------------------------------------------

TEST_F(RBLPromiseCombinatorsTest, AwaitBlocksABackgroundThreadUntilSettled) {
  RBLPromisePtr fulfilled = RBLPromise::pendingPromise();
  RBLPromisePtr rejected = RBLPromise::pendingPromise();
  std::atomic<bool> done{false};
  Value value;
  std::optional<Error> valueError = testError(0);
  Value nothing = "unset";
  std::optional<Error> error;
  std::thread waiter([&] {
    value = RBLPromiseAwait(fulfilled, &valueError);
    nothing = RBLPromiseAwait(rejected, &error);
    done = true;
  });
  runFor(0.02);
  EXPECT_FALSE(done.load());
  fulfilled->fulfill(11);
  // The settling work comes from the main queue, which this thread keeps pumping.
  RBLPromise::async([rejected](RBLFulfillCallback, RBLRejectCallback) { rejected->reject(testError(12)); });
  ASSERT_TRUE(testkit::runUntil([&] { return done.load(); }));
  waiter.join();
  EXPECT_EQ(value, Value(11));
  EXPECT_FALSE(valueError.has_value());
  EXPECT_TRUE(nothing.isNull());
  EXPECT_EQ(error, testError(12));
}

TEST_F(RBLPromiseCombinatorsTest, AwaitInsideASerialQueueTask) {
  platform::SerialQueue worker("test.promises.await");
  platform::SerialQueue other("test.promises.other");
  Value seen = worker.sync([&] {
    return RBLPromiseAwait(RBLPromise::onQueueDo(other, [] { return "from other"; }));
  });
  EXPECT_EQ(seen, Value("from other"));
}

// ---- time: delay, timeout, retry on the virtual clock -------------------------------

class RBLPromiseTimeTest : public PromiseTest {
 protected:
  testkit::VirtualClockScope m_clockScope;
  platform::VirtualClock& clock() { return *m_clockScope.clock(); }
  platform::SerialQueue m_queue{"test.promises.time"};
  void flush() { m_queue.sync([] {}); }
  void advance(double seconds) {
    clock().advance(seconds);
    flush();
  }
};

TEST_F(RBLPromiseTimeTest, DelayFulfilsAfterTheIntervalAndRejectsAtOnce) {
  RBLPromisePtr delayed = RBLPromise::resolvedWith(1)->onQueueDelay(m_queue, 2.0);
  flush();
  advance(1.999);
  EXPECT_TRUE(delayed->isPending());
  advance(0.001);
  EXPECT_TRUE(delayed->isFulfilled());
  EXPECT_EQ(delayed->value(), Value(1));

  RBLPromisePtr rejected = RBLPromise::resolvedWith(testError(1))->onQueueDelay(m_queue, 2.0);
  flush();
  EXPECT_TRUE(rejected->isRejected());
}

TEST_F(RBLPromiseTimeTest, TimeoutRejectsWithCodeOneUnlessTheOutcomeComesFirst) {
  RBLPromisePtr never = RBLPromise::pendingPromise();
  RBLPromisePtr timedOut = never->onQueueTimeout(m_queue, 0.5);
  advance(0.49);
  EXPECT_TRUE(timedOut->isPending());
  advance(0.01);
  ASSERT_TRUE(timedOut->isRejected());
  EXPECT_EQ(timedOut->error()->domain, "com.zoruvu.RBLPromises.Error");
  EXPECT_EQ(timedOut->error()->code, 1);
  EXPECT_TRUE(timedOut->error()->userInfo.empty());
  never->fulfill(0);

  RBLPromisePtr source = RBLPromise::pendingPromise();
  RBLPromisePtr inTime = source->onQueueTimeout(m_queue, 0.5);
  advance(0.1);
  source->fulfill(2);
  flush();
  advance(1.0);  // the timer still fires; it changes nothing
  EXPECT_TRUE(inTime->isFulfilled());
  EXPECT_EQ(inTime->value(), Value(2));

  RBLPromisePtr failing = RBLPromise::pendingPromise();
  RBLPromisePtr failedInTime = failing->onQueueTimeout(m_queue, 0.5);
  failing->reject(testError(3));
  advance(1.0);
  EXPECT_EQ(failedInTime->error(), testError(3));
}

TEST_F(RBLPromiseTimeTest, RetryCountsAttemptsAndWaitsBetweenThem) {
  std::atomic<int> calls{0};
  std::vector<int64_t> conditionCounts;
  RBLPromisePtr result = RBLPromise::onQueueAttempts(
      m_queue, 2, 5.0,
      [&](int64_t remaining, const Error&) {
        conditionCounts.push_back(remaining);
        return true;
      },
      [&]() -> RBLResolution { return testError(++calls); });
  EXPECT_EQ(calls.load(), 1) << "the first attempt runs on the calling thread";
  advance(4.9);
  EXPECT_EQ(calls.load(), 1);
  advance(0.1);
  EXPECT_EQ(calls.load(), 2);
  advance(5.0);
  EXPECT_EQ(calls.load(), 3);
  EXPECT_TRUE(result->isRejected());
  EXPECT_EQ(result->error(), testError(3)) << "the last error";
  EXPECT_EQ(conditionCounts, (std::vector<int64_t>{2, 1}));
  advance(100);
  EXPECT_EQ(calls.load(), 3);
}

TEST_F(RBLPromiseTimeTest, RetryStopsOnSuccessOrWhenTheConditionSaysNo) {
  int calls = 0;
  RBLPromisePtr plain = RBLPromise::onQueueRetry(m_queue, [&] {
    ++calls;
    return 5;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(plain->isFulfilled()) << "a plain value settles in the first attempt";

  calls = 0;
  RBLPromisePtr refused = RBLPromise::onQueueAttempts(
      m_queue, 3, 1.0, [](int64_t, const Error&) { return false; },
      [&]() -> RBLResolution {
        ++calls;
        return testError(1);
      });
  advance(10);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(refused->error(), testError(1));

  // Work returning promises: a rejected one is retried after the default delay.
  calls = 0;
  RBLPromisePtr recovered = RBLPromise::onQueueRetry(m_queue, [&]() -> RBLResolution {
    ++calls;
    return calls == 1 ? RBLPromise::resolvedWith(testError(1)) : RBLPromise::resolvedWith("ok");
  });
  flush();
  advance(0.999);
  EXPECT_EQ(calls, 1);
  advance(0.001);
  flush();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(recovered->value(), Value("ok"));
}

}  // namespace

#include "measurement/base/APMScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "measurement/base/APMError.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "platform/values/Exception.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

// Index of the first text containing `fragment`, or -1.
int indexOf(const std::vector<std::string>& texts, const std::string& fragment) {
  for (size_t index = 0; index < texts.size(); ++index) {
    if (texts[index].find(fragment) != std::string::npos) return static_cast<int>(index);
  }
  return -1;
}

TEST(APMSchedulerTest, AThrowingAsynchronousBlockDoesNotStopTheNext) {
  MeasurementTestEnvironment env;
  APMScheduler scheduler("com.zoruvu.vuve.worker");
  std::atomic<int> ran{0};
  scheduler.scheduleOnWorkerQueueBlockID("first", [] { platform::Exception::raise("ProbeException", "boom"); });
  scheduler.scheduleOnWorkerQueueBlockID("second", [] { throw std::runtime_error("plain"); });
  scheduler.scheduleOnWorkerQueueBlockID("third", [&] { ++ran; });
  scheduler.scheduleOnWorkerQueueBlockID("empty", {});
  scheduler.workerQueue().sync([] {});
  EXPECT_EQ(ran.load(), 1);
  EXPECT_TRUE(env.logged("[I-ACS030000] Exception on worker queue. Block ID=first. Exception: ProbeException: boom"));
  EXPECT_TRUE(env.logged("[I-ACS030000] Exception on worker queue. Block ID=second. Exception: std::exception: plain"));
  EXPECT_TRUE(env.logged("[I-ACS030005] Nil block dispatched asynchronously on worker queue. Block ID=empty."));
}

TEST(APMSchedulerTest, AThrowingSynchronousBlockLogsBothCodesInOrder) {
  MeasurementTestEnvironment env;
  APMScheduler scheduler("com.zoruvu.vuve.worker");
  bool ran = false;
  scheduler.dispatchSyncOnWorkerQueueBlockID("fine", [&] { ran = true; });
  EXPECT_TRUE(ran);
  scheduler.dispatchSyncOnWorkerQueueBlockID("probe", [] { platform::Exception::raise("ProbeException", "boom"); });
  scheduler.dispatchSyncOnWorkerQueueBlockID("nil", {});
  std::vector<std::string> texts = env.texts();
  const int thrown = indexOf(texts, "[I-ACS030003] Exception on worker queue when processing sync block. Block "
                                    "ID=probe. Exception: ProbeException: boom");
  const int failed = indexOf(texts, "[I-ACS030004] Synchronous task failed. Block ID=probe");
  ASSERT_GE(thrown, 0);
  EXPECT_GT(failed, thrown);
  EXPECT_EQ(indexOf(texts, "Block ID=fine"), -1);
  EXPECT_GE(indexOf(texts, "[I-ACS030002] Nil block dispatched synchronously on worker queue. Block ID=nil."), 0);

  // A sync from the worker queue itself is refused and counts as not run.
  scheduler.workerQueue().sync([&] { scheduler.dispatchSyncOnWorkerQueueBlockID("nested", [] {}); });
  EXPECT_TRUE(env.logged("[I-ACS030004] Synchronous task failed. Block ID=nested"));
}

TEST(APMSchedulerTest, MainThreadCheckLogsTheMethodName) {
  MeasurementTestEnvironment env;
  APMScheduler scheduler("com.zoruvu.vuve.worker");
  EXPECT_FALSE(scheduler.checkOnBackgroundThreadWithMethodName(""));
  EXPECT_TRUE(env.logged("[I-ACS030001] Method <empty method name> should execute on background thread: (nil)"));
  EXPECT_FALSE(scheduler.checkOnBackgroundThreadWithMethodName("updateSettings"));
  EXPECT_TRUE(env.logged("Method updateSettings should execute on background thread"));
  bool background = false;
  scheduler.workerQueue().sync([&] { background = scheduler.checkOnBackgroundThreadWithMethodName("x"); });
  EXPECT_TRUE(background);
}

TEST(APMErrorTest, ErrorsCarryOnlyNonEmptyTexts) {
  platform::Error empty = apm_errorWithCode(7, "", "");
  EXPECT_EQ(empty.domain, "com.zoruvu.vod.measurement.ErrorDomain");
  EXPECT_EQ(empty.code, 7);
  EXPECT_TRUE(empty.userInfo.empty());
  platform::Error full = apm_errorWithCode(8, "Broken", "ctx");
  EXPECT_EQ(full.localizedDescription(), "Broken");
  EXPECT_EQ(full.userInfo.get(kAPMMonitorContextKey), platform::Value("ctx"));

  platform::Error out;
  EXPECT_FALSE(APMCheckFlagOrSetError(false, nullptr, 1, "no out-parameter"));
  EXPECT_TRUE(APMCheckFlagOrSetError(true, &out, 1, "unused"));
  EXPECT_EQ(out.code, 0);
  EXPECT_FALSE(APMCheckObjectOrSetError(std::shared_ptr<int>(), &out, 2, "missing"));
  EXPECT_EQ(out.code, 2);
  EXPECT_TRUE(APMCheckObjectOrSetError(std::make_shared<int>(1), &out, 3, "present"));
  EXPECT_FALSE(APMCheckHandleOrSetError(nullptr, &out, 4, "handle"));
  EXPECT_EQ(out.localizedDescription(), "handle");
  EXPECT_FALSE(APMCheckNonEmptyOrSetError(0, nullptr, 5, "empty"));
  EXPECT_TRUE(APMCheckNonEmptyOrSetError(3, &out, 5, "three"));
  EXPECT_EQ(out.code, 4);
  APMSetErrorWithContext(&out, 9, "with context", "c");
  EXPECT_EQ(out, apm_errorWithCode(9, "with context", "c"));
}

}  // namespace

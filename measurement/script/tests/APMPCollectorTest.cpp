#include <gtest/gtest.h>

#include <memory>

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPRuntime.h"
#include "measurement/script/APMPScope.h"
#include "testing/script-notation/ScriptRun.h"

namespace {

// What a program made, watched without keeping it alive.
std::weak_ptr<APMPRuntimeValue> watch(testkit::ScriptRun run) {
  EXPECT_FALSE(run.error) << run.text;
  return run.value;
}

TEST(APMPCollector, CyclesAreFreedAndReachableValuesKept) {
  APMPRuntime runtime;
  ASSERT_FALSE(testkit::runScriptProgram(runtime, R"([
      ["41","keep"],["3","keep",["8","x",1]],
      ["50","pair",["7"],["41","a","b"],["3","a",["8"]],["3","b",["8","a",["15","a"]]],
                        ["43",["15","a"],"b",["15","b"]],["36",["15","a"]]],
      ["50","closure",["7"],["50","inner",["7"],1],["36",["15","inner"]]]])")
                   .error);

  // A pair of maps that reference each other, and a function whose defining
  // scope holds it: both outlive their last outside reference until a
  // collection breaks the cycle.
  const std::weak_ptr<APMPRuntimeValue> pair = watch(testkit::runScriptEntity(runtime, R"(["pair"])"));
  const std::weak_ptr<APMPRuntimeValue> closure = watch(testkit::runScriptEntity(runtime, R"(["closure"])"));
  const std::weak_ptr<APMPRuntimeValue> kept = watch(testkit::runScriptEntity(runtime, R"(["15","keep"])"));
  EXPECT_FALSE(pair.expired());
  EXPECT_FALSE(closure.expired());
  runtime.collectGarbage();
  EXPECT_TRUE(pair.expired());
  EXPECT_TRUE(closure.expired());

  // A top-level map keeps its properties through every collection.
  for (int i = 0; i < 3; ++i) runtime.collectGarbage();
  EXPECT_FALSE(kept.expired());
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["16",["15","keep"],"x"])").text, "number 1");
  // So does a closure held by a top-level name, with its enclosing scopes.
  ASSERT_FALSE(testkit::runScriptProgram(runtime, R"([["41","held"],["3","held",["pair"]]])").error);
  runtime.collectGarbage();
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["16",["16",["16",["15","held"],"b"],"a"],"b"])").text, "map");
}

TEST(APMPCollector, HostRootsKeepWhatTheyMark) {
  APMPRuntime runtime;
  struct HostRoot final : APMPMarkable {
    APMPValuePtr value;
    void mark(APMPMarker& marker) const override { marker.mark(value); }
  };
  auto root = std::make_shared<HostRoot>();
  auto map = APMPObjectManager::mapValueWithScope(*runtime.globalScope());
  map->setValueForProperty(map, u"self");
  root->value = map;
  runtime.addGarbageCollectionRoot(root);
  std::weak_ptr<APMPRuntimeValue> watched = map;
  map.reset();
  runtime.collectGarbage();
  EXPECT_FALSE(watched.expired());
  // Without its root, the cycle goes at the next collection.
  root->value.reset();
  runtime.collectGarbage();
  EXPECT_TRUE(watched.expired());
}

TEST(APMPCollector, TheRuntimeFreesWhatItMadeWhenItGoes) {
  // A cyclic array, a module that holds itself, and a native function of a
  // module that holds itself.
  std::weak_ptr<APMPRuntimeValue> array;
  std::weak_ptr<APMPRuntimeValue> native;
  {
    APMPRuntime runtime;
    array = testkit::runScriptProgram(runtime, R"([
        ["41","a"],["3","a",["7"]],["2",["15","a"],"push",["7",["15","a"]]],
        ["43",["require","internal.platform"],"loop",["require","internal.platform"]],["15","a"]])")
                .value;
    native = testkit::runScriptProgram(runtime, R"([
        ["41","v"],["3","v",["16",["require","internal.platform"],"getVersion"]],
        ["43",["15","v"],"me",["15","v"]],["15","v"]])")
                 .value;
    EXPECT_FALSE(native.expired());
  }
  EXPECT_TRUE(array.expired());
  EXPECT_TRUE(native.expired());
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPInstructionCounter.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPNullValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPRuntime.h"
#include "measurement/script/APMPRuntimeEntityConverter.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "testing/script-notation/ScriptRun.h"

namespace {

const std::string kDomain = "com.zoruvu.vod.measurement.pixie.ErrorDomain";
std::string errorText(int code) { return "error " + kDomain + " " + std::to_string(code); }

// A loop that never ends on its own: each pass evaluates its condition
// (one step) and its update (one step).
constexpr const char* kEndlessLoop = R"(["42",true,1,false,["46"]])";

TEST(APMPRuntime, InstructionLimit) {
  APMPInstructionCounter counter;
  APMPError error;
  for (int i = 0; i < APMPInstructionCounter::kLimit; ++i) ASSERT_TRUE(counter.step(error));
  EXPECT_FALSE(error);
  EXPECT_FALSE(counter.step(error));
  EXPECT_EQ(error.code(), kAPMPErrorLimitReached);
  EXPECT_EQ(counter.count(), APMPInstructionCounter::kLimit);

  // A runaway program ends with error 18, its count at the limit; the reset
  // gives a fresh budget.
  APMPRuntime runtime;
  testkit::ScriptRun run = testkit::runScriptEntity(runtime, kEndlessLoop);
  EXPECT_EQ(run.text, errorText(18));
  EXPECT_EQ(run.steps, APMPInstructionCounter::kLimit);
  runtime.resetInstructionCount();
  EXPECT_EQ(runtime.getInstructionCount(), 0);
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["0",1,2])").steps, 3);
}

TEST(APMPRuntime, CounterIsNoScriptName) {
  // The count is the runtime's own: scripts can neither read nor reset it.
  EXPECT_EQ(testkit::runScriptProgram(R"([["15","runtime.counter"]])").text, "undefined");
  EXPECT_EQ(testkit::runScriptProgram(R"([["3","runtime.counter",0]])").text, errorText(2));
  const std::string resetting = std::string(R"([["41","runtime.counter"],
      ["42",true,["3","runtime.counter",0],false,["46"]]])");
  testkit::ScriptRun run = testkit::runScriptProgram(resetting);
  EXPECT_EQ(run.text, errorText(18));
  EXPECT_EQ(run.steps, APMPInstructionCounter::kLimit);
}

TEST(APMPRuntime, LimitReachedInALoopConditionFailsTheRun) {
  // The loop's setup takes 4 steps here (one statement before it), so every
  // odd step from the fifth on is its condition, and the step past the limit
  // (1,000,001) falls on the condition.
  testkit::ScriptRun whileLoop = testkit::runScriptProgram(std::string(R"([["44"],)") + kEndlessLoop + "]");
  EXPECT_EQ(whileLoop.text, errorText(18));
  // A counting loop whose condition calls a function: the limit is met deep
  // inside the condition.
  testkit::ScriptRun counting = testkit::runScriptProgram(R"([
      ["50","always",["7"],["36",true]],
      ["41","i"],["3","i",0],
      ["63",["7","i"],["always"],1,["46"]]])");
  EXPECT_EQ(counting.text, errorText(18));
}

TEST(APMPRuntime, ScopesAndNames) {
  APMPRuntime runtime;
  ASSERT_FALSE(testkit::runScriptProgram(runtime, R"([["41","top"],["3","top",1]])").error);
  // Names declared in a run scope vanish with it; top-level names stay.
  APMPError error;
  const APMPScopePtr first = runtime.getRunScope();
  first->addValue(APMPNumber(2), u"local");
  EXPECT_EQ(first->valueForName(u"top")->doubleValueOrError(error), 1);
  EXPECT_TRUE(runtime.getRunScope()->valueForName(u"local")->isUndefined());
  EXPECT_TRUE(runtime.getRunScope()->hasName(u"top"));

  // Assignment lands where the name is declared; an immutable scope on the
  // way drops it.
  const APMPScopePtr inner = first->createChildScope();
  inner->setValue(APMPNumber(5), u"top");
  EXPECT_EQ(runtime.globalScope()->valueForName(u"top")->doubleValueOrError(error), 5);
  inner->setValue(APMPNumber(6), u"fresh");
  EXPECT_TRUE(inner->contents().hasName(u"fresh"));
  first->makeImmutable();
  inner->setValue(APMPNumber(7), u"top");
  EXPECT_EQ(runtime.globalScope()->valueForName(u"top")->doubleValueOrError(error), 5);
  first->addValue(APMPNumber(8), u"late");
  EXPECT_FALSE(first->hasName(u"late"));
}

TEST(APMPRuntime, ModulesAreCreatedOnceAndKept) {
  APMPRuntime runtime;
  int created = 0;
  runtime.setModuleCreator(
      [&created] {
        ++created;
        return APMPString(u"module");
      },
      "counted");
  runtime.setModuleCreator([] { return APMPValuePtr(); }, "broken");
  EXPECT_EQ(testkit::runScriptProgram(runtime, R"([["require","counted"],["require","counted"]])").text,
            "string \"module\"");
  EXPECT_EQ(created, 1);
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["require","broken"])").text, errorText(15));
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["require"])").text, errorText(9));

  // An unregistered name gives undefined, and keeps giving it after a
  // creator is registered under it.
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["require","later"])").text, "undefined");
  runtime.setModuleCreator([] { return APMPString(u"too late"); }, "later");
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["require","later"])").text, "undefined");

  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["2",["require","internal.platform"],"getVersion",["7"]])").text,
            "number 0");
  EXPECT_EQ(testkit::runScriptProgram(runtime, R"([["41","p"],["3","p",["require","internal.platform"]],["p"]])").text,
            "undefined");
}

TEST(APMPRuntime, TopLevelStatementsRunInOrderAndStopAtAnError) {
  APMPRuntime runtime;
  EXPECT_EQ(testkit::runScriptProgram(runtime, "[]").text, "undefined");
  // The second statement converts only after the first ran.
  EXPECT_EQ(testkit::runScriptProgram(runtime, R"([["41","ran"],{"kind":9},["41","never"]])").text, errorText(12));
  EXPECT_TRUE(runtime.globalScope()->hasName(u"ran"));
  EXPECT_FALSE(runtime.globalScope()->hasName(u"never"));
  // A control value leaving a top-level statement does not stop the run.
  EXPECT_EQ(testkit::runScriptProgram(runtime, R"([["4"],["0",1,1]])").text, "number 2");
}

TEST(APMPRuntime, EntityConversion) {
  const struct {
    const char* entity;
    const char* result;
  } cases[] = {
      {R"({"kind":1})", "string \"\""},
      {R"({"kind":2})", "number NaN"},
      {R"({"kind":3})", "boolean false"},
      {R"({"kind":1,"s":"x","d":4})", "string \"x\""},
      {R"({"n":"-0"})", "number 0"},
      {R"({"n":"-Infinity"})", "number -Infinity"},
      {R"({"kind":4,"cmd":"44"})", "undefined"},
      {R"({"kind":4})", "error 14"},
      {R"({"kind":0})", "error 12"},
      {R"({"kind":5,"cmd":"0"})", "error 12"},
      {R"({"cmd":"0"})", "error 12"},
      {R"(["0",1,{"kind":7}])", "error 12"},
      {R"(["7",{"kind":4,"args":[1]}])", "error 14"},
  };
  for (const auto& c : cases) {
    std::string expected = c.result;
    if (expected.rfind("error ", 0) == 0) expected = errorText(std::stoi(expected.substr(6)));
    EXPECT_EQ(testkit::runScriptEntity(c.entity).text, expected) << c.entity;
  }
}

TEST(APMPRuntime, DeepEntityTreesAreRefused) {
  // 1001 nested statements convert; one more level is refused.
  // A chain of "35" statements with a literal at its end.
  auto nested = [](int depth) {
    std::shared_ptr<APMPBRuntimeEntity> root = APMPBRuntimeEntity::initWithMessageInfo(nullptr);
    std::vector<APMPBMessageView> chain;
    chain.reserve(static_cast<size_t>(depth));
    NANOMessageBase* node = root.get();
    for (int i = 0; i < depth; ++i) {
      APMPBSetInt32(node, APMPBRuntimeEntitySlot::kKind, APMPRuntimeEntityConverter::kStatementKind);
      APMPBSetString(node, APMPBRuntimeEntitySlot::kFunctionName, "35");
      chain.push_back(*APMPBAppendMessage(node, APMPBRuntimeEntitySlot::kValue));
      node = &chain.back();
    }
    APMPBSetInt32(node, APMPBRuntimeEntitySlot::kKind, APMPRuntimeEntityConverter::kNumberKind);
    APMPBSetDouble(node, APMPBRuntimeEntitySlot::kNumberValue, 1);
    return root;
  };
  for (const auto& [depth, ok] : {std::pair{APMPRuntimeEntityConverter::kMaxDepth, true},
                                  std::pair{APMPRuntimeEntityConverter::kMaxDepth + 1, false}}) {
    std::shared_ptr<APMPBRuntimeEntity> entity = nested(depth);
    APMPError error;
    const APMPValuePtr value = APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity, error);
    if (ok) {
      EXPECT_FALSE(error);
      EXPECT_TRUE(value->isStatement());
    } else {
      EXPECT_EQ(error.code(), kAPMPErrorInvalidEntity);
    }
  }
}

TEST(APMPRuntime, PlatformObjectConversions) {
  APMPRuntime runtime;
  const APMPScopePtr scope = runtime.getRunScope();
  APMPError error;
  const platform::Value object = platform::Value::dict({
      {"text", "t"},
      {"flag", true},
      {"char", static_cast<signed char>(1)},
      {"integer", int64_t(7)},
      {"double", 2.5},
      {"nothing", platform::Value()},
      {"list", platform::Value::array({1, "x"})},
  });
  const APMPValuePtr converted = APMPRuntimeEntityConverter::runtimeValueFromNSObject(object, *scope, error);
  ASSERT_FALSE(error);
  ASSERT_TRUE(converted->isMap());
  const auto& map = static_cast<const APMPMapValue&>(*converted);
  EXPECT_EQ(testkit::describeScriptValue(map.valueForProperty(u"text")), "string \"t\"");
  EXPECT_EQ(testkit::describeScriptValue(map.valueForProperty(u"flag")), "boolean true");
  EXPECT_EQ(testkit::describeScriptValue(map.valueForProperty(u"char")), "boolean true");
  EXPECT_EQ(testkit::describeScriptValue(map.valueForProperty(u"integer")), "number 7");
  EXPECT_EQ(testkit::describeScriptValue(map.valueForProperty(u"nothing")), "null");
  EXPECT_EQ(testkit::describeScriptValue(map.valueForProperty(u"list")), "array [1,\"x\"]");
  // Values made by the conversion are tracked by the runtime's collector.
  EXPECT_GE(runtime.objectManager().trackedObjects().size(), 2u);

  APMPRuntimeEntityConverter::runtimeValueFromNSObject(platform::Value::data({1, 2}), *scope, error);
  EXPECT_EQ(error.code(), kAPMPErrorNoRuntimeValue);

  // Back to plain values.
  const struct {
    APMPValuePtr value;
    platform::Value plain;
  } cases[] = {
      {APMPNull(), platform::Value()},
      {APMPUndefined(), platform::Value("")},
      {APMPString(u"12"), platform::Value(12.0)},
      {APMPString(u"twelve"), platform::Value("twelve")},
      {APMPBoolean(true), platform::Value(1.0)},
      {APMPNumber(2.5), platform::Value(2.5)},
  };
  for (const auto& c : cases) {
    APMPError plainError;
    EXPECT_EQ(APMPRuntimeEntityConverter::objectFromRuntimeValue(c.value, plainError), c.plain)
        << testkit::describeScriptValue(c.value);
    EXPECT_FALSE(plainError);
  }
  auto withNull = std::make_shared<APMPMapValue>();
  withNull->setValueForProperty(APMPNull(), u"gone");
  withNull->setValueForProperty(std::make_shared<APMPArrayValue>(
                                    APMPValueList{APMPNumber(1), APMPRuntimeValue::emptyValue(), APMPNull()}),
                                u"list");
  APMPError mapError;
  EXPECT_EQ(APMPRuntimeEntityConverter::objectFromRuntimeValue(withNull, mapError),
            platform::Value::dict({{"list", platform::Value::array({1.0, ""})}}));
  EXPECT_FALSE(mapError);
}

TEST(APMPRuntime, CyclicValuesDoNotConvertToPlainObjects) {
  APMPRuntime runtime;
  const testkit::ScriptRun run = testkit::runScriptProgram(runtime, R"([
      ["41","m"],["3","m",["8"]],["43",["15","m"],"self",["7",1,["15","m"]]],["15","m"]])");
  ASSERT_TRUE(run.value->isMap());
  APMPError error;
  APMPRuntimeEntityConverter::objectFromRuntimeValue(run.value, error);
  EXPECT_EQ(error.code(), kAPMPErrorArgumentKind);
  // A value shared twice without a cycle converts.
  const testkit::ScriptRun shared = testkit::runScriptProgram(runtime, R"([
      ["41","x"],["3","x",["7",1]],["7",["15","x"],["15","x"]]])");
  APMPError sharedError;
  EXPECT_EQ(APMPRuntimeEntityConverter::objectFromRuntimeValue(shared.value, sharedError),
            platform::Value::array({platform::Value::array({1.0}), platform::Value::array({1.0})}));
  EXPECT_FALSE(sharedError);
}

// Each fault with a program that failed (or crashed) before it was mended.
TEST(APMPRuntime, HostileProgramsFailCleanly) {
  const struct {
    const char* name;
    const char* program;
    std::string result;
  } cases[] = {
      {"cyclic join", R"([["41","a"],["3","a",["7",1]],["2",["15","a"],"push",["7",["15","a"]]],["0",["15","a"],""]])",
       "string \"1,\""},
      {"deep recursion", R"([["50","f",["7"],["36",["f"]]],["f"]])", errorText(18)},
      {"huge index", R"([["43",["7"],1000000,1]])", errorText(10)},
      {"largest index", R"([["43",["7"],999999,1]])", "number 1"},
      {"huge length", R"([["43",["7"],"length",1000001]])", errorText(11)},
      {"doubling string",
       R"([["41","s"],["3","s","x"],["42",true,["3","s",["0",["15","s"],["15","s"]]],false,["46"]]])", errorText(10)},
      {"doubling array",
       R"([["41","a"],["3","a",["7",1]],["42",true,["3","a",["2",["15","a"],"concat",["7",["15","a"]]]],false,["46"]]])",
       errorText(10)},
      {"catastrophic pattern",
       R"([["2","aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!","search",["7","(a+)+$"]]])",
       "error platform.text.Regex 2"},
  };
  for (const auto& c : cases) EXPECT_EQ(testkit::runScriptProgram(c.program).text, c.result) << c.name;
}

TEST(APMPRuntime, MemoryBudgetEndsAProgramThatKeepsWhatItMakes) {
  // Texts of 512 Ki units (1 MiB each), kept in an array: the run ends with
  // error 18 once about 64 MiB were made, long before the step limit.
  APMPRuntime runtime;
  const testkit::ScriptRun run = testkit::runScriptProgram(runtime, R"([
      ["41","s","a","i"],["3","s","x"],["3","i",0],
      ["42",["23",["15","i"],19],["3","i",["0",["15","i"],1]],false,["46",["3","s",["0",["15","s"],["15","s"]]]]],
      ["3","a",["7"]],
      ["42",true,["3","i",["0",["15","i"],1]],false,["46",["2",["15","a"],"push",["7",["0",["15","s"],["15","i"]]]]]]])");
  EXPECT_EQ(run.text, errorText(18));
  EXPECT_LT(run.steps, 10000);
  EXPECT_LE(runtime.getInstructionCount(), APMPInstructionCounter::kLimit);
  // The budget starts afresh with the count.
  runtime.resetInstructionCount();
  const testkit::ScriptRun kept = testkit::runScriptEntity(runtime, R"(["16",["15","a"],"length"])");
  ASSERT_TRUE(kept.value && kept.value->isNumber()) << kept.text;
  APMPError error;
  EXPECT_GT(kept.value->doubleValueOrError(error), 50);
  EXPECT_LT(kept.value->doubleValueOrError(error), 64);
}

TEST(APMPRuntime, RuntimesOnSeveralThreadsShareOnlyTheirSingletons) {
  // Each thread runs its own runtime through loops that use the shared
  // values (undefined, null, booleans, break, continue, the hole) and
  // collects garbage in between.
  const char* program = R"([
      ["41","i","a","m"],["3","i",0],["3","a",["7"]],
      ["42",["23",["15","i"],300],["3","i",["0",["15","i"],1]],false,
            ["46",["3","m",["8","self",["44"],"n",["45"]]],["43",["15","m"],"self",["15","m"]],
                  ["43",["15","a"],["26",["15","i"],2],["28",["15","m"]]],
                  ["22",["12",["25",["15","i"],7],0],["46",["6"]]],
                  ["22",["18",["15","i"],1000],["46",["4"]]]]],
      ["2",["15","a"],"join",["7","-"]]])";
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 5; ++round) {
        APMPRuntime runtime;
        if (testkit::runScriptProgram(runtime, program).error) ++failures;
        runtime.collectGarbage();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(APMPRuntime, LongChainsAreBuiltJoinedAndFreedWithoutDeepRecursion) {
  // a = [a], 50,000 times: the join, a collection and the final release all
  // walk the chain without recursion.
  APMPRuntime runtime;
  const testkit::ScriptRun run = testkit::runScriptProgram(runtime, R"([
      ["41","a","i"],["3","a",["7"]],["3","i",0],
      ["42",["23",["15","i"],50000],["3","i",["0",["15","i"],1]],false,["46",["3","a",["7",["15","a"]]]]],
      ["0",["15","a"],""]])");
  EXPECT_EQ(run.text, "string \"\"");
  runtime.collectGarbage();
  runtime.resetInstructionCount();
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["16",["16",["15","a"],0],"length"])").text, "number 1");
  EXPECT_EQ(testkit::runScriptEntity(runtime, R"(["3","a",0])").text, "number 0");
}

}  // namespace

#include "measurement/script/APMPEventEditing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "measurement/script/APMPEditingCallbackHandler.h"
#include "measurement/script/APMPEventContext.h"
#include "measurement/script/APMPParameterCoercion.h"
#include "measurement/script/APMPRuntime.h"
#include "testing/script-notation/ScriptNotation.h"

namespace {

const std::string kRuntimeDomain = "com.zoruvu.vod.measurement.pixie.ErrorDomain";
const std::string kEditingDomain = "com.zoruvu.vod.measurement.pixie.editing.ErrorDomain";

// A program that keeps the callback module as "reg" and then runs the
// given statements (comma-separated notation).
std::string program(const std::string& statements) {
  return R"([["41","reg"],["3","reg",["require","internal.registerCallback"]])" +
         (statements.empty() ? "" : "," + statements) + "]";
}

// A callback registration: body statements of a function of "e", and the
// options map's notation.
std::string callback(const std::string& body, const std::string& options) {
  return R"(["reg",0,["51","cb",["7","e"],)" + body + "]," + options + "]";
}

std::string edit(const std::string& body, int priority) {
  return callback(body, R"(["8","type","edit","priority",)" + std::to_string(priority) + "]");
}

// e.setParamValue(name, e.getParamValue(name) + text)
std::string append(const std::string& name, const std::string& text) {
  return R"(["2",["15","e"],"setParamValue",["7",")" + name + R"(",["0",["2",["15","e"],"getParamValue",["7",")" +
         name + R"("]],")" + text + R"("]]])";
}

struct Loaded {
  std::shared_ptr<APMPEventEditing> editing;
  std::optional<platform::Error> error;
};

Loaded load(const std::string& json) {
  Loaded loaded{std::make_shared<APMPEventEditing>(), std::nullopt};
  std::string problem;
  const std::optional<platform::Value> notation = testkit::parseNotation(json, problem);
  EXPECT_TRUE(notation) << problem << ": " << json;
  if (!notation) return loaded;
  std::shared_ptr<APMPBProgram> built = testkit::programFromNotation(*notation, problem);
  EXPECT_TRUE(built) << problem << ": " << json;
  if (!built) return loaded;
  platform::Error error;
  if (!loaded.editing->loadProgram(*built, &error)) loaded.error = error;
  return loaded;
}

std::shared_ptr<APMPEventEditing> loaded(const std::string& json) {
  Loaded result = load(json);
  EXPECT_FALSE(result.error) << (result.error ? result.error->description() : "") << ": " << json;
  return result.editing;
}

APMPEvent event(platform::Dictionary parameters = {}) { return APMPEvent("purchase", 1700000000123.0, parameters); }

TEST(APMPEventEditing, WithoutCallbacksNothingChanges) {
  auto editing = loaded(program(""));
  platform::Error error;
  EXPECT_FALSE(editing->handleEvent(event({{"a", 1}}), &error));
  EXPECT_FALSE(editing->hasEdits());
  EXPECT_FALSE(editing->hasCreatedEvents());
  EXPECT_TRUE(editing->outputEvent().isEqualToEvent(event({{"a", 1}})));
}

TEST(APMPEventEditing, CallbackResultsDecideWhetherChangesStay) {
  const std::string rename = R"(["2",["15","e"],"setEventName",["7","renamed"]])";
  const struct {
    const char* name;
    std::string ending;
    bool kept;
  } cases[] = {
      {"no return", "", false},
      {"returns 2", R"(,["36",2])", false},
      {"returns -1", R"(,["36",-1])", false},
      {"returns a text", R"(,["36","0"])", false},
      {"returns 0", R"(,["36",0])", true},
      {"returns 1", R"(,["36",1])", true},
      {"returns 4294967298 (2 in 32 bits)", R"(,["36",4294967298])", false},
  };
  for (const auto& c : cases) {
    auto editing = loaded(program(edit(rename + c.ending, 1)));
    platform::Error error;
    EXPECT_EQ(editing->handleEvent(event(), &error), c.kept) << c.name;
    EXPECT_EQ(editing->outputEvent().name(), c.kept ? "renamed" : "purchase") << c.name;
    EXPECT_EQ(editing->hasEdits(), c.kept) << c.name;
  }
}

TEST(APMPEventEditing, CallbacksRunByPriority) {
  // 5, 5, then 3: run as 3, 5 and the second 5 (whose key became 6).
  auto editing = loaded(program(edit(append("order", "a") + R"(,["36",0])", 5) + "," +
                                edit(append("order", "b") + R"(,["36",0])", 5) + "," +
                                edit(append("order", "c") + R"(,["36",0])", 3)));
  platform::Error error;
  EXPECT_TRUE(editing->handleEvent(event({{"order", ""}}), &error));
  EXPECT_EQ(editing->outputEvent().parameterForName("order"), platform::Value("cab"));

  // Priorities: 1000 without one; 2^32 + 5 is 5; NaN is 0; a taken one is
  // the last key plus one.
  auto keys = loaded(program(callback("1", R"(["8","type","edit"])") + "," +
                             callback("1", R"(["8","type","edit","priority",4294967301])") + "," +
                             callback("1", R"(["8","type","edit","priority",{"n":"NaN"}])") + "," +
                             callback("1", R"(["8","type","edit","priority",0])") + "," +
                             callback("1", R"(["8","type","create","priority",0])")));
  EXPECT_EQ(keys->callbackHandler().sortedEditPriorities(), (std::vector<int64_t>{0, 5, 1000, 1001}));
  EXPECT_EQ(keys->callbackHandler().sortedCreatePriorities(), (std::vector<int64_t>{0}));
}

TEST(APMPEventEditing, CallbackLimitAndRegistrationErrors) {
  // 1000 callbacks load; the 1001st fails the load, whatever its type.
  std::string thousand = R"(["41","i"],["3","i",0],["42",["23",["15","i"],1000],["3","i",["0",["15","i"],1]],false,
      ["46",)" + callback("1", R"(["39",["25",["15","i"],2],["8","type","edit"],["8","type","create"]])") + "]]";
  EXPECT_FALSE(load(program(thousand)).error);
  const Loaded tooMany = load(program(thousand + "," + callback("1", R"(["8","type","create"])")));
  ASSERT_TRUE(tooMany.error);
  EXPECT_EQ(tooMany.error->domain, kEditingDomain);
  EXPECT_EQ(tooMany.error->code, 4);

  const struct {
    const char* name;
    std::string statement;
    std::string domain;
    int code;
  } cases[] = {
      {"no type", callback("1", R"(["8","priority",1])"), kEditingDomain, 2},
      {"unknown type", callback("1", R"(["8","type","change"])"), kEditingDomain, 3},
      {"callback is no function", R"(["reg",0,1,["8","type","edit"]])", kRuntimeDomain, 10},
      {"options are no map", R"(["reg",0,["51","f",["7"]],1])", kRuntimeDomain, 10},
      {"two arguments", R"(["reg",0,["51","f",["7"]]])", kRuntimeDomain, 9},
      {"return at the top level", R"(["36",1])", kEditingDomain, 5},
  };
  for (const auto& c : cases) {
    const Loaded result = load(program(c.statement));
    ASSERT_TRUE(result.error) << c.name;
    EXPECT_EQ(result.error->domain, c.domain) << c.name;
    EXPECT_EQ(result.error->code, c.code) << c.name;
  }
}

TEST(APMPEventEditing, EventMethods) {
  const struct {
    const char* name;
    std::string body;
    platform::Dictionary parameters;  // of the output event
    const char* eventName;
  } cases[] = {
      {"integer parameter stays integral", R"(["2",["15","e"],"setParamValue",["7","count",7]])",
       {{"count", int64_t(7)}, {"_x", int64_t(5)}, {"price", 2.5}, {"label", "l"}}, "purchase"},
      {"underscored integer keeps its value", R"(["2",["15","e"],"setParamValue",["7","_x",9]])",
       {{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 2.5}, {"label", "l"}}, "purchase"},
      {"floating stays floating", R"(["2",["15","e"],"setParamValue",["7","price",3]])",
       {{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 3.0}, {"label", "l"}}, "purchase"},
      {"text parameter takes the number's text", R"(["2",["15","e"],"setParamValue",["7","label",7]])",
       {{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 2.5}, {"label", "7"}}, "purchase"},
      {"null removes", R"(["2",["15","e"],"setParamValue",["7","label",["45"]]])",
       {{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 2.5}}, "purchase"},
      {"undefined stores the empty text", R"(["2",["15","e"],"setParamValue",["7","label",["44"]]])",
       {{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 2.5}, {"label", ""}}, "purchase"},
      {"absent parameter reads as null",
       R"(["2",["15","e"],"setParamValue",["7","seen",["40",["2",["15","e"],"getParamValue",["7","none"]]]]])",
       {{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 2.5}, {"label", "l"}, {"seen", "object"}}, "purchase"},
      {"reads name, timestamp and parameters",
       R"(["2",["15","e"],"setEventName",["7",["0",["0",["2",["15","e"],"getEventName",["7"]],
            ["2",["15","e"],"getTimestamp",["7"]]],["16",["2",["15","e"],"getParams",["7"]],"label"]]]])",
       {{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 2.5}, {"label", "l"}}, "purchase1700000000123l"},
  };
  const platform::Dictionary input{{"count", int64_t(5)}, {"_x", int64_t(5)}, {"price", 2.5}, {"label", "l"}};
  for (const auto& c : cases) {
    auto editing = loaded(program(edit(c.body + R"(,["36",0])", 1)));
    platform::Error error;
    editing->handleEvent(event(input), &error);
    const APMPEvent output = editing->outputEvent();
    EXPECT_EQ(output.name(), c.eventName) << c.name;
    EXPECT_EQ(platform::Value(output.parameters()), platform::Value(c.parameters)) << c.name;
    for (const auto& [key, value] : c.parameters) {
      EXPECT_EQ(output.parameterForName(key).isFloatingNumber(), value.isFloatingNumber()) << c.name << " " << key;
    }
  }
}

TEST(APMPEventEditing, ErrorsRestoreTheEventAndStopTheRun) {
  // The first callback renames and keeps it; the second changes a parameter
  // and then fails; the third never runs.
  auto editing = loaded(program(
      edit(R"(["2",["15","e"],"setEventName",["7","first"]],["36",0])", 1) + "," +
      edit(R"(["2",["15","e"],"setParamValue",["7","a",9]],["2",["15","e"],"setEventName",["7",["45"]]])", 2) + "," +
      edit(R"(["2",["15","e"],"setEventName",["7","third"]],["36",0])", 3)));
  platform::Error error;
  EXPECT_FALSE(editing->handleEvent(event({{"a", 1}}), &error));
  EXPECT_EQ(error.domain, kRuntimeDomain);
  EXPECT_EQ(error.code, 10);
  EXPECT_EQ(editing->outputEvent().name(), "first");
  EXPECT_EQ(editing->outputEvent().parameterForName("a"), platform::Value(1));

  // A runaway callback hits the evaluation limit; the next event gets a
  // fresh budget.
  auto runaway = loaded(program(edit(R"(["42",true,1,false,["46"]])", 1)));
  EXPECT_FALSE(runaway->handleEvent(event(), &error));
  EXPECT_EQ(error.code, 18);
  EXPECT_FALSE(runaway->handleEvent(event(), &error));
  EXPECT_EQ(error.code, 18);
}

TEST(APMPEventEditing, RemovingAParameterAloneIsNoEdit) {
  auto editing = loaded(program(edit(R"(["2",["15","e"],"setParamValue",["7","a",["45"]]],["36",0])", 1)));
  platform::Error error;
  EXPECT_FALSE(editing->handleEvent(event({{"a", 1}, {"b", 2}}), &error));
  EXPECT_FALSE(editing->outputEvent().hasParameterName("a"));
  EXPECT_FALSE(editing->hasEdits());
}

TEST(APMPEventEditing, CreatedEvents) {
  auto editing = loaded(program(
      R"(["41","log"],["3","log",["require","internal.eventLogger"]],)" +
      callback(R"(["log","extra",1234.9,["8","_err",3.7,"n",2,"gone",["45"],"s","t"]],
                  ["log",["2",["15","e"],"getEventName",["7"]],{"n":"NaN"},["8"]])",
               R"(["8","type","create"])")));
  platform::Error error;
  EXPECT_TRUE(editing->handleEvent(event({{"n", 1.5}}), &error));
  EXPECT_FALSE(editing->hasEdits());
  ASSERT_TRUE(editing->hasCreatedEvents());
  const std::vector<APMPEvent> created = editing->eventsToLog();
  ASSERT_EQ(created.size(), 2u);
  EXPECT_EQ(created[0].name(), "extra");
  EXPECT_EQ(created[0].timestamp(), 1234);
  EXPECT_EQ(platform::Value(created[0].parameters()),
            platform::Value(platform::Dictionary{{"_err", int64_t(3)}, {"n", 2.0}, {"s", "t"}}));
  EXPECT_TRUE(created[0].parameterForName("_err").isInteger());
  EXPECT_EQ(created[1].name(), "purchase");
  EXPECT_EQ(created[1].timestamp(), 0);
  // The next event starts without them.
  EXPECT_TRUE(editing->handleEvent(event(), &error));
  EXPECT_EQ(editing->eventsToLog().size(), 2u);

  // A map that does not convert creates nothing.
  auto cyclic = loaded(program(
      R"(["41","log"],["3","log",["require","internal.eventLogger"]],)" +
      callback(R"(["41","m"],["3","m",["8"]],["43",["15","m"],"m",["15","m"]],["log","x",1,["15","m"]])",
               R"(["8","type","create"])")));
  EXPECT_FALSE(cyclic->handleEvent(event(), &error));
  EXPECT_EQ(error.code, 10);
  EXPECT_FALSE(cyclic->hasCreatedEvents());
}

TEST(APMPEventEditing, Activities) {
  // An activity hands each rule map to the function it names; the function
  // registers a callback from the rule.
  const std::string handler =
      R"(["50","renameRule",["7","rule"],)" +
      callback(R"(["2",["15","e"],"setEventName",["7",["16",["15","rule"],"to"]]],["36",0])",
               R"(["8","type","edit"])") +
      "]";
  auto editing = loaded(R"({"instructions":)" + program(handler) +
                        R"(,"activities":[{"name":"renameRule","data":[["8","to","renamed"]]}]})");
  platform::Error error;
  EXPECT_TRUE(editing->handleEvent(event(), &error));
  EXPECT_EQ(editing->outputEvent().name(), "renamed");

  const struct {
    const char* name;
    std::string activities;
    int code;
  } cases[] = {
      {"a rule that is no map", R"([{"name":"renameRule","data":[1]}])", 6},
      {"a name that is no function", R"([{"name":"missing","data":[["8"]]}])", 7},
  };
  for (const auto& c : cases) {
    const Loaded result = load(R"({"instructions":)" + program(handler) + R"(,"activities":)" + c.activities + "}");
    ASSERT_TRUE(result.error) << c.name;
    EXPECT_EQ(result.error->domain, kEditingDomain) << c.name;
    EXPECT_EQ(result.error->code, c.code) << c.name;
  }
}

TEST(APMPEventEditing, TopLevelNamesLastAndRunNamesDoNot) {
  // A counter kept in a top-level map counts every event; a name declared
  // inside a callback starts afresh each time.
  auto editing = loaded(program(
      R"(["41","seen"],["3","seen",["8","n",0]],)" +
      edit(R"(["43",["15","seen"],"n",["0",["16",["15","seen"],"n"],1]],
              ["2",["15","e"],"setParamValue",["7","n",["16",["15","seen"],"n"]]],["36",0])",
           1)));
  platform::Error error;
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(editing->handleEvent(event({{"n", int64_t(0)}}), &error));
    EXPECT_EQ(editing->outputEvent().parameterForName("n"), platform::Value(int64_t(i)));
  }
}

TEST(APMPEventEditing, ParameterCoercion) {
  using platform::Value;
  const struct {
    const char* name;
    Value current;
    Value value;
    Value stored;
  } cases[] = {
      {"count", Value(int64_t(5)), Value(7.9), Value(int64_t(7))},
      {"_count", Value(int64_t(5)), Value(7.0), Value(int64_t(5))},
      {"_err", Value(), Value(3.7), Value(int64_t(3))},
      {"_syn", Value("x"), Value(2.0), Value(int64_t(2))},
      {"_el", Value(1.5), Value(2.5), Value(int64_t(2))},
      {"price", Value(1.5), Value(2.0), Value(2.0)},
      {"label", Value("l"), Value(7.0), Value("7")},
      {"label", Value("l"), Value(7.5), Value("7.5")},
      {"fresh", Value(), Value(7.0), Value(7.0)},
      {"count", Value(int64_t(5)), Value("text"), Value("text")},
      {"", Value(int64_t(5)), Value(7.0), Value(int64_t(7))},
  };
  for (const auto& c : cases) {
    const Value stored = APMPCoerceParameterValue(c.name, c.current, c.value);
    EXPECT_EQ(stored, c.stored) << c.name;
    EXPECT_EQ(stored.isFloatingNumber(), c.stored.isFloatingNumber()) << c.name;
  }
}

}  // namespace

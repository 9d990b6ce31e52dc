// sdk-probe's script subcommands, run as the CI runs them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

class ScriptProbeTest : public sdkprobetest::SdkProbeFixture {};

TEST_F(ScriptProbeTest, Eval) {
  expectAll({
      {R"(script-eval '["0",1,2]')", 0, "=> number 3\n=> steps 3\n"},
      {R"(script-eval '["0",0.1,0.2]')", 0, "=> number 0.30000000000000004\n=> steps 3\n"},
      {R"(script-eval '["10",1,1e21]')", 0, "=> number 1e-21\n=> steps 3\n"},
      {R"(script-eval '["0","a\"b",1]')", 0, "=> string \"a\\\"b1\"\n=> steps 3\n"},
      {R"(script-eval '["7",1,"a",true,["44"],["45"],["7",2],["8"],["51","f",["7"]]]')", 0,
       "=> array [1,\"a\",true,undefined,null,[2],map,function f]\n=> steps 11\n"},
      {R"(script-eval '["43",["7"],2,1]')", 0, "=> number 1\n=> steps 4\n"},
      {R"(script-eval '["16",["43",["7"],2,1],0]')", 0, "=> undefined\n=> steps 6\n"},
      {R"(script-eval '["8","k",1]')", 0, "=> map\n=> steps 3\n"},
      {R"(script-eval '["12",{"n":"NaN"},{"n":"NaN"}]')", 0, "=> boolean false\n=> steps 3\n"},
      {R"(script-eval '["45"]')", 0, "=> null\n=> steps 1\n"},
      {R"(script-eval '["3","x",1]')", 1, "=> error com.zoruvu.vod.measurement.pixie.ErrorDomain 2\n=> steps 3\n"},
      {R"(script-eval '["42",true,1,false,["46"]]')", 1,
       "=> error com.zoruvu.vod.measurement.pixie.ErrorDomain 18\n=> steps 1000000\n"},
      {R"(script-eval '{"kind":9}')", 1, "=> error com.zoruvu.vod.measurement.pixie.ErrorDomain 12\n=> steps 0\n"},
      {R"(script-eval '[1]')", 2, "=> error bad entity: a statement starts with its command name\n"},
  });
}

TEST_F(ScriptProbeTest, Edit) {
  const std::string rename = R"('[["41","reg"],["3","reg",["require","internal.registerCallback"]],
      ["41","log"],["3","log",["require","internal.eventLogger"]],
      ["reg",0,["51","cb",["7","e"],["2",["15","e"],"setEventName",["7","renamed"]],
          ["2",["15","e"],"setParamValue",["7","n",7.5]],["2",["require","internal.logger"],"log",["7","edited"]],
          ["36",0]],["8","type","edit"]],
      ["reg",0,["51","mk",["7","e"],["log","extra",["2",["15","e"],"getTimestamp",["7"]],["8","n",2,"f",2.5]]],
          ["8","type","create"]]]')";
  const std::string event = R"('{"name":"purchase","timestamp":1700000000123,"params":{"n":1,"d":2.0,"s":"x"}}')";
  expectAll({
      {"script-edit " + rename + " " + event, 0,
       "=> handled YES\n"
       R"(=> out renamed t=1700000000123 {"d":2.0,"n":7,"s":"x"})" "\n"
       R"(=> created extra t=1700000000123 {"f":2.5,"n":2})" "\n",
       "[I-ACS024005] edited"},
      {R"(script-edit '[]' '{"name":"e","timestamp":1.5,"params":{"a":1}}')", 0,
       "=> handled NO\n"
       R"(=> out e t=1.5 {"a":1})" "\n"},
      {R"(script-edit '[["36",1]]' '{"name":"e","timestamp":1,"params":{}}')", 1,
       "=> load error com.zoruvu.vod.measurement.pixie.editing.ErrorDomain 5\n",
       "[I-ACS029026] Failed to initiate event editing instance"},
      {R"(script-edit '[["41","reg"],["3","reg",["require","internal.registerCallback"]],
           ["reg",0,["51","cb",["7","e"],["2",["15","e"],"setEventName",["7",["45"]]]],["8","type","edit"]]]' )"
       R"('{"name":"e","timestamp":1,"params":{}}')",
       1,
       "=> error com.zoruvu.vod.measurement.pixie.ErrorDomain 10\n"
       R"(=> out e t=1 {})" "\n"},
      {R"(script-edit '[]' '{"name":"e"}')", 2,
       "=> error EVENT must be {\"name\": TEXT, \"timestamp\": NUMBER, \"params\": OBJECT}\n"},
  });
}

// A program delivered by the measurement configuration edits the events the
// application logs: the renamed event and the one the program creates are
// what the bundle carries; events the program leaves alone stay as logged.
TEST_F(ScriptProbeTest, AConfigurationProgramEditsAndCreatesBundledEvents) {
  // Renames checkouts and sets their "n"; logs a receipt beside each of them
  // (create callbacks run after the edits and see the renamed event).
  const auto named = [](const std::string& name) {
    return R"(["20",["2",["15","e"],"getEventName",["7"]],")" + name + R"("])";
  };
  const std::string program =
      R"([["41","reg"],["3","reg",["require","internal.registerCallback"]],)"
      R"(["41","log"],["3","log",["require","internal.eventLogger"]],)"
      R"(["reg",0,["51","cb",["7","e"],["22",)" + named("checkout") +
      R"(,["46",["2",["15","e"],"setEventName",["7","bought"]],["2",["15","e"],"setParamValue",["7","n",7.5]]]],)"
      R"(["36",0]],["8","type","edit"]],)"
      R"(["reg",0,["51","mk",["7","e"],["22",)" + named("bought") +
      R"(,["log","receipt",["2",["15","e"],"getTimestamp",["7"]],["8","items",2]]]],["8","type","create"]]])";
  sdkprobetest::ProbeRun r =
      run("analytics-start 1709251200 analytics-config '{\"version\": 3, \"programs\": [" + program +
          "]}' analytics-log checkout '{\"n\": 1, \"s\": \"x\"}' analytics-log tap '{}' analytics-bundle");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("=> config stored\n"), std::string::npos) << r.out;
  const size_t bundle = r.out.find("=> bundle 1 event bought");
  ASSERT_NE(bundle, std::string::npos) << r.out;
  EXPECT_TRUE(r.out.substr(bundle).starts_with(
      R"(=> bundle 1 event bought t=1709251200000 {"_o":"app","n":7,"s":"x"})" "\n"
      R"(=> bundle 1 event receipt t=1709251200000 {"_o":"app","items":2.0})" "\n"
      R"(=> bundle 1 event tap t=1709251200000 {"_o":"app"})" "\n"))
      << r.out;
}

}  // namespace

// The commands, run as programs in the entity notation: each case is a JSON
// array of top-level statements and the described result of the last one.
#include <gtest/gtest.h>

#include <string>

#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPCommandRegistrar.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPNullValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "testing/script-notation/ScriptRun.h"

namespace {

struct Case {
  const char* name;
  const char* program;
  const char* result;
};

const std::string kDomain = "com.zoruvu.vod.measurement.pixie.ErrorDomain";

std::string error(int code) { return "error " + kDomain + " " + std::to_string(code); }

void expectResults(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string expected = c.result;
    if (expected.rfind("error ", 0) == 0 && expected.find(' ', 6) == std::string::npos) {
      expected = error(std::stoi(expected.substr(6)));
    }
    EXPECT_EQ(testkit::runScriptProgram(c.program).text, expected) << c.name << ": " << c.program;
  }
}

TEST(APMPCommands, Math) {
  expectResults({
      {"sum", R"([["0",1,2]])", "number 3"},
      {"number and string join", R"([["0",1,"2"]])", "string \"12\""},
      {"array and string join", R"([["0",["7",1,2],"x"]])", "string \"1,2x\""},
      {"boolean and null add", R"([["0",true,["45"]]])", "number 1"},
      {"undefined adds to NaN", R"([["0",["44"],1]])", "number NaN"},
      {"remainder keeps the sign", R"([["25",-7,3]])", "number -1"},
      {"remainder by zero", R"([["25",1,0]])", "number NaN"},
      {"division by zero", R"([["10",1,0]])", "number Infinity"},
      {"negative zero divides to -Infinity", R"([["10",1,["27",0]]])", "number -Infinity"},
      {"product", R"([["26",3,4]])", "number 12"},
      {"difference", R"([["37",5,7]])", "number -2"},
      {"34 is the value", R"([["34","a"]])", "string \"a\""},
      {"35 is the value", R"([["35",2]])", "number 2"},
      {"32 is the first", R"([["32",1,2]])", "number 1"},
      {"33 is the first", R"([["33","a","b"]])", "string \"a\""},
      {"count", R"([["0",1]])", "error 9"},
      {"no number of a statement result", R"([["26",["4"],2]])", "error 4"},
  });
}

TEST(APMPCommands, LogicalAndBitwise) {
  expectResults({
      {"and stops at a falsy first", R"([["41","x"],["1",false,["3","x",1]],["15","x"]])", "undefined"},
      {"and goes on after a truthy first", R"([["41","x"],["1",true,["3","x",1]],["15","x"]])", "number 1"},
      {"and yields the falsy value", R"([["1",0,5]])", "number 0"},
      {"or stops at a truthy first", R"([["41","x"],["30",true,["3","x",1]],["15","x"]])", "undefined"},
      {"or yields the second", R"([["30",0,"b"]])", "string \"b\""},
      {"or yields the truthy first", R"([["30","a","b"]])", "string \"a\""},
      {"not", R"([["28",""]])", "boolean true"},
      {"not of an array", R"([["28",["7"]]])", "boolean false"},
      {"not counts", R"([["28",1,2]])", "error 9"},
      {"unsigned shift", R"([["61",-1,0]])", "number 4294967295"},
      {"arithmetic shift", R"([["60",-8,1]])", "number -4"},
      {"left shift masks the count", R"([["57",1,33]])", "number 2"},
      {"left shift into the sign", R"([["57",1,31]])", "number -2147483648"},
      {"and wraps modulo 2^32", R"([["56",4294967301,7]])", "number 5"},
      {"NaN is 0", R"([["56",{"n":"NaN"},7]])", "number 0"},
      {"or", R"([["59",1,2]])", "number 3"},
      {"xor", R"([["62",3,1]])", "number 2"},
      {"not", R"([["58",0]])", "number -1"},
      {"bitwise counts", R"([["56",1]])", "error 9"},
  });
}

TEST(APMPCommands, Comparison) {
  expectResults({
      {"null loosely equals undefined", R"([["12",["45"],["44"]]])", "boolean true"},
      {"null does not loosely equal 0", R"([["12",["45"],0]])", "boolean false"},
      {"NaN loosely", R"([["12",{"n":"NaN"},{"n":"NaN"}]])", "boolean false"},
      {"NaN strictly", R"([["20",{"n":"NaN"},{"n":"NaN"}]])", "boolean false"},
      {"number and numeric string", R"([["12",1,"1"]])", "boolean true"},
      {"boolean and numeric string", R"([["12",true,"1"]])", "boolean true"},
      {"string and array", R"([["12","1",["7",1]]])", "boolean true"},
      {"map and its text", R"([["12",["8"],"[object Object]"]])", "boolean true"},
      {"two arrays by identity", R"([["12",["7"],["7"]]])", "boolean false"},
      {"loose inequality", R"([["29",1,2]])", "boolean true"},
      {"strict across kinds", R"([["21",1,"1"]])", "boolean true"},
      {"strict numbers", R"([["20",1,1]])", "boolean true"},
      {"string against number compares numbers", R"([["23","10",9]])", "boolean false"},
      {"two strings compare text", R"([["23","10","9"]])", "boolean true"},
      {"greater", R"([["18",2,1]])", "boolean true"},
      {"greater or equal", R"([["19",1,1]])", "boolean true"},
      {"less or equal", R"([["24",1,1]])", "boolean true"},
      {"NaN is never greater", R"([["18",{"n":"NaN"},1]])", "boolean false"},
      {"NaN is never greater or equal", R"([["19",{"n":"NaN"},{"n":"NaN"}]])", "boolean false"},
      {"arrays by their text", R"([["23",["7",1,2],["7",1,3]]])", "boolean true"},
      {"counted before evaluation", R"([["12",["3","undeclared",1],2,3]])", "error 9"},
  });
}

TEST(APMPCommands, LooseAndRelationalMatrices) {
  const APMPValuePtr values[] = {APMPUndefined(),     APMPNull(),          APMPNumber(0),
                                 APMPNumber(1),       APMPBoolean(true),   APMPString(u""),
                                 APMPString(u"1"),    APMPString(u"a"),    std::make_shared<APMPMapValue>()};
  // Loose equality, row against column.
  const char* loose[] = {
      // u n 0 1 t "" "1" "a" m
      "110000000",  // undefined
      "110000000",  // null
      "001001000",  // 0
      "000110100",  // 1
      "000110100",  // true
      "001001000",  // ""
      "000110100",  // "1"
      "000000010",  // "a"
      "000000001",  // map
  };
  // Relational comparison: L less, E equal, G greater (NaN gives G).
  const char* order[] = {
      "GGGGGGGGG",  // undefined
      "GEELLELGG",  // null
      "GEELLELGG",  // 0
      "GGGEEGEGG",  // 1
      "GGGEEGEGG",  // true
      "GEELLELLL",  // ""
      "GGGEEGELL",  // "1"
      "GGGGGGGEG",  // "a"
      "GGGGGGGLE",  // map
  };
  for (size_t row = 0; row < std::size(values); ++row) {
    for (size_t column = 0; column < std::size(values); ++column) {
      APMPError error;
      EXPECT_EQ(APMPLooseEquals(*values[row], *values[column], error), loose[row][column] == '1')
          << row << "," << column;
      const std::optional<APMPOrdering> ordering = APMPRelationalCompare(*values[row], *values[column], error);
      ASSERT_TRUE(ordering);
      const char expected = order[row][column];
      const char got = *ordering == APMPOrdering::Less ? 'L' : *ordering == APMPOrdering::Equal ? 'E' : 'G';
      EXPECT_EQ(got, expected) << row << "," << column;
      EXPECT_FALSE(error);
    }
  }
}

TEST(APMPCommands, Control) {
  expectResults({
      {"method call", R"([["2","abc","toUpperCase",["7"]]])", "string \"ABC\""},
      {"method name must be a string", R"([["2","abc",1,["7"]]])", "error 10"},
      {"method arguments must be an array", R"([["2","abc","toString",1]])", "error 10"},
      {"method of undefined", R"([["2",["44"],"x",["7"]]])", "error 7"},
      {"unknown method of a map", R"([["2",["8"],"x",["7"]]])", "error 17"},
      {"toString of a number", R"([["2",1,"toString",["7"]]])", "string \"1\""},
      {"break", R"([["4"]])", "control break"},
      {"break takes nothing", R"([["4",1]])", "error 9"},
      {"continue", R"([["6"]])", "control continue"},
      {"block", R"([["5",["46",["0",1,2],["0",3,4]]]])", "number 7"},
      {"block 9", R"([["9",["46",["0",1,2]]]])", "number 3"},
      {"block of a number", R"([["5",1]])", "error 10"},
      {"sequence", R"([["13",1,2,3]])", "number 3"},
      {"empty sequence", R"([["13"]])", "error 9"},
      {"control value in a sequence", R"([["13",["4"]]])", "error 10"},
      {"if then", R"([["22",true,1,2]])", "number 1"},
      {"if without else", R"([["22",false,1]])", "undefined"},
      {"untaken branch is not evaluated", R"([["41","x"],["22",false,["3","x",1]],["15","x"]])", "undefined"},
      {"array branch runs its statements", R"([["22",true,["46",["0",1,1],["0",2,2]]]])", "number 4"},
      {"if counts", R"([["22"]])", "error 9"},
      {"return", R"([["36",5]])", "control return"},
      {"return takes at most one", R"([["36",1,2]])", "error 9"},
      {"ternary", R"([["39",0,"a","b"]])", "string \"b\""},
      {"statement list", R"([["46",["0",1,2],3]])", "array [statement 0,3]"},
      {"function value", R"([["51","f",["7","a"],["36",["15","a"]]]])", "function f"},
      {"call", R"([["50","f",["7","a","b"],["36",["0",["15","a"],["15","b"]]]],["f",1,2]])", "number 3"},
      {"missing arguments are undefined", R"([["50","f",["7","a","b"],["36",["15","b"]]],["f",1]])", "undefined"},
      {"last statement without return", R"([["50","f",["7"],["0",1,1]],["f"]])", "number 2"},
      {"parameters must be an array", R"([["51","f",1]])", "error 10"},
      {"function needs a name and parameters", R"([["51","f"]])", "error 9"},
      {"scoped block", R"([["41","x"],["3","x",1],["53",["41","x"],["3","x",2]],["15","x"]])", "number 1"},
      {"declaration in a body assigns the outer name",
       R"([["41","g"],["50","f",["7"],["50","g",["7"],1]],["f"],["15","g"]])", "function g"},
      {"closures are lexical",
       R"([["41","x"],["3","x","outer"],["50","f",["7"],["36",["15","x"]]],
           ["50","g",["7"],["41","x"],["3","x","inner"],["36",["f"]]],["g"]])",
       "string \"outer\""},
  });
}

TEST(APMPCommands, Switch) {
  const char* function =
      R"(["50","s",["7","d"],["38",["15","d"],["46",1,2,3],
          ["46",["36","one"],["36","two"],["4"],["36","default"]]]])";
  const char* fallThrough =
      R"([["41","r"],["3","r",""],
          ["38",%s,["46",1,2],["46",["3","r",["0",["15","r"],"a"]],["3","r",["0",["15","r"],"b"]],
                                  ["3","r",["0",["15","r"],"d"]]]],["15","r"]])";
  auto withDiscriminant = [&](const char* value) {
    std::string text = fallThrough;
    text.replace(text.find("%s"), 2, value);
    return text;
  };
  const std::string matchTwo = std::string("[") + function + R"(,["s",2]])";
  const std::string breakThree = std::string("[") + function + R"(,["s",3]])";
  const std::string fallToDefault = std::string("[") + function + R"(,["s",9]])";
  const std::string strictCases = std::string("[") + function + R"(,["s","2"]])";
  const std::string fromOne = withDiscriminant("1");
  const std::string fromNone = withDiscriminant("7");
  expectResults({
      {"matching case", matchTwo.c_str(), "string \"two\""},
      {"break ends the switch", breakThree.c_str(), "undefined"},
      {"default body", fallToDefault.c_str(), "string \"default\""},
      {"cases match strictly", strictCases.c_str(), "string \"default\""},
      {"falls through to the default", fromOne.c_str(), "string \"abd\""},
      {"no match runs the default", fromNone.c_str(), "string \"d\""},
      {"lists must be arrays", R"([["38",1,2,["46"]]])", "error 9"},
  });
}

TEST(APMPCommands, Variables) {
  expectResults({
      {"assignment to an undeclared name", R"([["3","x",1]])", "error 2"},
      {"nothing is declared by it", R"([["41","y"],["3","x",1]])", "error 2"},
      {"declared then assigned", R"([["41","y"],["3","y",5]])", "number 5"},
      {"names are strings", R"([["3",1,2]])", "error 10"},
      {"declarations stop at a bad name", R"([["41","a",1]])", "error 10"},
      {"constants stay", R"([["52","c",1],["3","c",2],["15","c"]])", "number 1"},
      {"constants in pairs", R"([["52","c"]])", "error 9"},
      {"missing name", R"([["15","nothing"]])", "undefined"},
      {"character", R"([["16","abc",1]])", "string \"b\""},
      {"character past the end", R"([["16","abc",3]])", "undefined"},
      {"negative index", R"([["17","abc",-1]])", "undefined"},
      {"string length", R"([["16","abc","length"]])", "number 3"},
      {"array element", R"([["16",["7",1,2],1]])", "number 2"},
      {"map property", R"([["16",["8","k",5],"k"]])", "number 5"},
      {"property of a number", R"([["16",5,"x"]])", "undefined"},
      {"store on a number", R"([["43",5,"x",1]])", "number 1"},
      {"store on undefined", R"([["43",["44"],"x",1]])", "error 6"},
      {"bad length", R"([["43",["7"],"length",2.5]])", "error 11"},
      {"map store and read",
       R"([["41","m"],["3","m",["8"]],["43",["15","m"],"k",["7",1]],["16",["15","m"],"k"]])", "array [1]"},
      {"map keys, later wins", R"([["16",["8","a",1,"a",2],"a"]])", "number 2"},
      {"map in pairs", R"([["8","a"]])", "error 9"},
      {"type boolean", R"([["40",true]])", "string \"boolean\""},
      {"type function", R"([["40",["51","f",["7"]]]])", "string \"function\""},
      {"type number", R"([["40",1]])", "string \"number\""},
      {"type string", R"([["40","s"]])", "string \"string\""},
      {"type undefined", R"([["40",["44"]]])", "string \"undefined\""},
      {"type null", R"([["40",["45"]]])", "string \"object\""},
      {"type array", R"([["40",["7"]]])", "string \"object\""},
      {"undefined", R"([["44",1,2]])", "undefined"},
      {"null", R"([["45"]])", "null"},
  });
}

TEST(APMPCommands, UnassignedOpcodesCallFunctions) {
  for (const char* opcode : {"11", "14", "31", "48", "49"}) {
    EXPECT_EQ(APMPCommandRegistrar::sharedInstance().evaluatorForOpcode(std::stoi(opcode)), nullptr) << opcode;
    const std::string missing = std::string(R"([[")") + opcode + R"("]])";
    EXPECT_EQ(testkit::runScriptProgram(missing).text, "undefined") << opcode;
    const std::string defined =
        std::string(R"([["50",")") + opcode + R"(",["7","a"],["36",["0",["15","a"],1]]],[")" + opcode + R"(",6]])";
    EXPECT_EQ(testkit::runScriptProgram(defined).text, "number 7") << opcode;
  }
  // Every other opcode of 0..66 has its family; names that only look like
  // opcodes call functions.
  int assigned = 0;
  for (int opcode = 0; opcode <= 66; ++opcode) {
    if (APMPCommandRegistrar::sharedInstance().evaluatorForOpcode(opcode) != nullptr) ++assigned;
  }
  EXPECT_EQ(assigned, 62);
  EXPECT_EQ(testkit::runScriptProgram(R"([["50","07",["7"],"called"],["07"]])").text, "string \"called\"");
  EXPECT_EQ(testkit::runScriptProgram(R"([["50","67",["7"],"called"],["67"]])").text, "string \"called\"");
}

TEST(APMPCommands, Loops) {
  expectResults({
      {"key loop over an array",
       R"([["41","k","s"],["3","s",""],["47","k",["7","a","b"],["46",["3","s",["0",["15","s"],["15","k"]]]]],
           ["15","s"]])",
       "string \"01\""},
      {"key loop over a map",
       R"([["41","k","s"],["3","s",""],["47","k",["8","x",1,"y",2],["46",["3","s",["0",["15","s"],["15","k"]]]]],
           ["15","s"]])",
       "string \"xy\""},
      {"key loop over a number runs no pass", R"([["47","k",5,["46",["3","nothing",1]]]])", "undefined"},
      {"value loop over a string",
       R"([["41","v","s"],["3","s",""],["64","v","ab",["46",["3","s",["0",["15","s"],["15","v"]]]]],["15","s"]])",
       "string \"ab\""},
      {"value loop over a number", R"([["64","v",5,["46"]]])", "error 16"},
      {"body must be an array", R"([["47","k",["7",1],1]])", "error 10"},
      {"constant binding ignores assignment",
       R"([["41","s"],["3","s",""],["54","k","ab",["46",["3","k","z"],["3","s",["0",["15","s"],["15","k"]]]]],
           ["15","s"]])",
       "string \"01\""},
      {"variable binding takes assignment",
       R"([["41","s"],["3","s",""],["55","k","ab",["46",["3","k","z"],["3","s",["0",["15","s"],["15","k"]]]]],
           ["15","s"]])",
       "string \"zz\""},
      {"per-pass bindings vanish", R"([["66","v",["7",1],["46"]],["15","v"]])", "undefined"},
      {"assigned binding stays", R"([["41","v"],["64","v",["7",1,2],["46"]],["15","v"]])", "number 2"},
      {"break and continue",
       R"([["41","s"],["3","s",""],
           ["66","v",["7",1,2,3,4,5],["46",["22",["12",["15","v"],2],["46",["6"]]],
                                          ["22",["12",["15","v"],4],["46",["4"]]],
                                          ["3","s",["0",["15","s"],["15","v"]]]]],["15","s"]])",
       "string \"13\""},
      {"break ends only the loop",
       R"([["41","n"],["3","n",0],["65","v",["7",1,2],["46",["4"]]],["3","n",1],["15","n"]])", "number 1"},
      {"return leaves the function",
       R"([["50","f",["7"],["66","v",["7",1,2,3],["46",["22",["12",["15","v"],2],["46",["36",["15","v"]]]]]],
           ["36","none"]],["f"]])",
       "number 2"},
      {"counting loop",
       R"([["41","i","t"],["3","i",0],["3","t",0],
           ["63",["7","i"],["23",["15","i"],5],["3","i",["0",["15","i"],1]],["46",["3","t",["0",["15","t"],["15","i"]]]]],
           ["7",["15","t"],["15","i"]]])",
       "array [10,0]"},
      {"counting loop closures see their own pass",
       R"([["41","i","fs"],["3","i",0],["3","fs",["7"]],
           ["63",["7","i"],["23",["15","i"],3],["3","i",["0",["15","i"],1]],
                 ["46",["2",["15","fs"],"push",["7",["51","g",["7"],["36",["15","i"]]]]]]],
           ["2",["15","fs"],"map",["7",["51","h",["7","f"],["36",["f"]]]]]])",
       "array [0,1,2]"},
      {"counting loop names must be an array", R"([["63",1,true,1,["46"]]])", "error 10"},
      {"while loop",
       R"([["41","i"],["3","i",0],["42",["23",["15","i"],3],["3","i",["0",["15","i"],1]],false,["46"]],["15","i"]])",
       "number 3"},
      {"do-while runs the body first",
       R"([["41","n"],["3","n",0],["42",false,1,true,["46",["3","n",["0",["15","n"],1]]]],["15","n"]])", "number 1"},
      {"continue runs the update",
       R"([["41","i","s"],["3","i",0],["3","s",""],
           ["42",["23",["15","i"],3],["3","i",["0",["15","i"],1]],false,
                 ["46",["22",["12",["15","i"],1],["46",["6"]]],["3","s",["0",["15","s"],["15","i"]]]]],["15","s"]])",
       "string \"02\""},
      {"condition error ends the loop with it", R"([["42",["3","undeclared",1],1,false,["46"]]])", "error 2"},
      {"update error ends the loop with it",
       R"([["41","i"],["3","i",0],["63",["7","i"],true,["3","undeclared",1],["46"]]])", "error 2"},
  });
}

}  // namespace

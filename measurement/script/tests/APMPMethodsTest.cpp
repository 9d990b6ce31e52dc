// String and array methods, called with opcode "2" on programs in the
// entity notation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPRuntime.h"
#include "testing/ScopedEnvironment.h"
#include "testing/script-notation/ScriptRun.h"

namespace {

struct Case {
  const char* program;
  const char* result;
};

std::string expandedError(const std::string& result) {
  if (result.rfind("error ", 0) == 0 && result.find(' ', 6) == std::string::npos) {
    return "error com.zoruvu.vod.measurement.pixie.ErrorDomain " + result.substr(6);
  }
  return result;
}

void expectResults(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(testkit::runScriptProgram(c.program).text, expandedError(c.result)) << c.program;
  }
}

TEST(APMPMethods, StringMethods) {
  expectResults({
      {R"([["2","abc","charAt",["7",-1]]])", "string \"\""},
      {R"([["2","abc","charAt",["7",3]]])", "string \"\""},
      {R"([["2","abc","charAt",["7",1.9]]])", "string \"b\""},
      {R"([["2","abc","charAt",["7"]]])", "string \"a\""},
      {R"([["2","abc","charAt",["7",1,2]]])", "error 9"},
      {R"([["2","ab","concat",["7",1,["45"]]]])", "string \"ab1null\""},
      {R"([["2","abc","hasOwnProperty",["7","length"]]])", "boolean true"},
      {R"([["2","abc","hasOwnProperty",["7","1"]]])", "boolean true"},
      {R"([["2","abc","hasOwnProperty",["7",3]]])", "boolean false"},
      {R"([["2","abc","hasOwnProperty",["7",1.5]]])", "boolean false"},
      {R"([["2","abcabc","indexOf",["7","c",3]]])", "number 5"},
      {R"([["2","abcabc","indexOf",["7","c"]]])", "number 2"},
      {R"([["2","xundefined","indexOf",["7"]]])", "number 1"},
      {R"([["2","abcabc","indexOf",["7","",10]]])", "number 6"},
      {R"([["2","abcabc","lastIndexOf",["7","c",4]]])", "number 2"},
      {R"([["2","abcabc","lastIndexOf",["7","c"]]])", "number 5"},
      {R"([["2","abcabc","lastIndexOf",["7","c",{"n":"NaN"}]]])", "number 5"},
      {R"([["2","abcabc","lastIndexOf",["7","a",-5]]])", "number 0"},
      {R"([["2","x1y","search",["7","[0-9]"]]])", "number 1"},
      {R"([["2","xyz","search",["7","q"]]])", "number -1"},
      {R"([["2","xyz","search",["7",""]]])", "number 0"},
      {R"([["2","xyz","match",["7","q"]]])", "null"},
      {R"([["2","x12y","match",["7","[0-9]+"]]])", "array [\"12\"]"},
      {R"([["2","xyz","match",["7"]]])", "array [\"\"]"},
      {R"([["2","xyz","match",["7","("]]])", "error platform.text.Regex 1"},
      {R"([["2","aaa","replace",["7","a","b"]]])", "string \"baa\""},
      {R"([["2","abc","replace",["7","x","y"]]])", "string \"abc\""},
      {R"([["2","abc","replace",["7","","-"]]])", "string \"-abc\""},
      {R"([["2","abc","replace",["7","b"]]])", "string \"abc\""},
      {R"([["2","abc","replace",["7","b",["51","r",["7","s","p","w"],["36",["0",["0",["15","s"],["15","p"]],["15","w"]]]]]]])",
       "string \"ab1abcc\""},
      {R"([["2","abc","slice",["7",-2]]])", "string \"bc\""},
      {R"([["2","abc","slice",["7",1,-1]]])", "string \"b\""},
      {R"([["2","abc","slice",["7",2,1]]])", "string \"\""},
      {R"([["2","abc","slice",["7",0,{"n":"NaN"}]]])", "string \"abc\""},
      {R"([["2","abc","slice",["7",-10,10]]])", "string \"abc\""},
      {R"([["2","a-b-c","split",["7","-",2]]])", "array [\"a\",\"b\"]"},
      {R"([["2","abc","split",["7",""]]])", "array [\"a\",\"b\",\"c\"]"},
      {R"([["2","abc","split",["7","",2]]])", "array [\"a\",\"b\"]"},
      {R"([["2","abc","split",["7","b",0]]])", "array []"},
      {R"([["2","","split",["7","x"]]])", "array [\"\"]"},
      {R"([["2","abc","split",["7"]]])", "array [\"abc\"]"},
      {R"([["2","-a-","split",["7","-"]]])", "array [\"\",\"a\",\"\"]"},
      {R"([["2","abc","substring",["7",2,0]]])", "string \"ab\""},
      {R"([["2","abc","substring",["7",-1]]])", "string \"abc\""},
      {R"([["2","AbÇ","toLowerCase",["7"]]])", "string \"abç\""},
      {R"([["2","straße","toUpperCase",["7"]]])", "string \"STRASSE\""},
      {R"([["2","a","toUpperCase",["7",1]]])", "error 9"},
      {R"([["2","abc","toString",["7"]]])", "string \"abc\""},
      {R"([["2"," \n a b \t","trim",["7"]]])", "string \"a b\""},
      {R"([["2","abc","foo",["7"]]])", "error 17"},
  });
}

TEST(APMPMethods, LocaleCaseMappingFollowsTheUser) {
  testkit::ScopedEnvironment environment;
  environment.set("LANGUAGE", "tr");
  EXPECT_EQ(testkit::runScriptProgram(R"([["2","I","toLocaleLowerCase",["7"]]])").text, "string \"ı\"");
  EXPECT_EQ(testkit::runScriptProgram(R"([["2","i","toLocaleUpperCase",["7"]]])").text, "string \"İ\"");
  EXPECT_EQ(testkit::runScriptProgram(R"([["2","I","toLowerCase",["7"]]])").text, "string \"i\"");
}

TEST(APMPMethods, ArrayMethods) {
  const char* holey = R"(["41","a"],["3","a",["7"]],["43",["15","a"],2,5])";
  auto withHoley = [&](const char* last) { return std::string("[") + holey + "," + last + "]"; };
  const std::string mapHoley = withHoley(R"(["2",["15","a"],"map",["7",["51","f",["7","v"],["36",["26",["15","v"],2]]]]])");
  const std::string filterHoley = withHoley(R"(["2",["15","a"],"filter",["7",["51","f",["7","v"],true]]])");
  const std::string reduceHoley =
      withHoley(R"(["2",["15","a"],"reduce",["7",["51","f",["7","s","v"],["0",["15","s"],["15","v"]]]]])");
  const std::string concatHoley = withHoley(R"(["2",["7",1],"concat",["7",["15","a"],4]])");
  const std::string everyHoley = withHoley(R"(["2",["15","a"],"every",["7",["51","f",["7","v"],["12",["15","v"],5]]]])");
  expectResults({
      {R"([["2",["7",1,2,3],"indexOf",["7",2,-1]]])", "number -1"},
      {R"([["2",["7",1,2,3],"indexOf",["7",3,-1]]])", "number 2"},
      {R"([["2",["7",1,2,3],"indexOf",["7",1,5]]])", "number -1"},
      {R"([["2",["7",1,2,3],"indexOf",["7","1"]]])", "number -1"},
      {R"([["2",["7",1,2,3],"lastIndexOf",["7",3]]])", "number 2"},
      {R"([["2",["7",1,2,3],"lastIndexOf",["7",1,-3]]])", "number 0"},
      {R"([["2",["7",1,2,3],"lastIndexOf",["7",1,-4]]])", "number -1"},
      {R"([["2",["7"],"reduce",["7",["51","f",["7"],1]]]])", "error 8"},
      {R"([["2",["7"],"reduce",["7",["51","f",["7"],1],0]]])", "number 0"},
      {R"([["2",["7",1,2,3],"reduce",["7",["51","f",["7","s","v"],["0",["15","s"],["15","v"]]]]]])", "number 6"},
      {R"([["2",["7","a","b","c"],"reduceRight",["7",["51","f",["7","s","v"],["0",["15","s"],["15","v"]]]]]])",
       "string \"cba\""},
      {R"([["2",["7",1],"reduce",["7",1]]])", "error 10"},
      {R"([["2",["7",1],"reduce",["7",["51","f",["7"]],["4"]]]])", "error 10"},
      {reduceHoley.c_str(), "number 5"},
      {R"([["41","a"],["3","a",["7",1,2,3]],["7",["2",["15","a"],"splice",["7",1]],["15","a"]]])",
       "array [[2,3],[1]]"},
      {R"([["41","a"],["3","a",["7",1,2,3]],["7",["2",["15","a"],"splice",["7",-1,5,9]],["15","a"]]])",
       "array [[3],[1,2,9]]"},
      {R"([["2",["7",1],"splice",["7"]]])", "array []"},
      {R"([["41","a","n"],["3","a",["7",1,2]],["3","n",0],
           ["2",["15","a"],"forEach",["7",["51","f",["7","v"],["2",["15","a"],"push",["7",0]],["3","n",["0",["15","n"],1]]]]],
           ["7",["15","n"],["16",["15","a"],"length"]]])",
       "array [2,4]"},
      {R"([["2",["7",1],"join",["7",["44"]]]])", "string \"1\""},
      {R"([["2",["7",1,2],"join",["7"]]])", "string \"1,2\""},
      {R"([["2",["7",1,["45"],2],"join",["7","-"]]])", "string \"1--2\""},
      {R"([["2",["7",1,2],"join",["7",["45"]]]])", "string \"12\""},
      {mapHoley.c_str(), "array [,,10]"},
      {filterHoley.c_str(), "array [5]"},
      {everyHoley.c_str(), "boolean true"},
      {R"([["2",["7",1,2],"some",["7",["51","f",["7","v"],["12",["15","v"],2]]]]])", "boolean true"},
      {R"([["2",["7",1,2],"every",["7",1]]])", "error 10"},
      {R"([["2",["7",1,2],"every",["7"]]])", "error 9"},
      {R"([["2",["7",1],"concat",["7",["7",2,3],4]]])", "array [1,2,3,4]"},
      {concatHoley.c_str(), "array [1,,,5,4]"},
      {R"([["2",["7"],"pop",["7"]]])", "undefined"},
      {R"([["2",["7",1,2],"push",["7",3,4]]])", "number 4"},
      {R"([["2",["7",1,2],"unshift",["7",0]]])", "number 3"},
      {R"([["2",["7",1,2],"shift",["7"]]])", "number 1"},
      {R"([["2",["7",1,2,3],"reverse",["7"]]])", "array [3,2,1]"},
      {R"([["2",["7",1,2,3],"slice",["7",-2]]])", "array [2,3]"},
      {R"([["2",["7",1,2,3],"slice",["7",2,1]]])", "array []"},
      {R"([["2",["7",1,2,3],"slice",["7",0,{"n":"NaN"}]]])", "array [1,2,3]"},
      {R"([["2",["7",3,1,2],"sort",["7"]]])", "array [1,2,3]"},
      {R"([["2",["7",10,9,1],"sort",["7"]]])", "array [1,10,9]"},
      {R"([["2",["7","b",["44"],"a"],"sort",["7"]]])", "array [\"a\",\"b\",undefined]"},
      {R"([["2",["7",10,9,1],"sort",["7",["51","c",["7","a","b"],["37",["15","b"],["15","a"]]]]]])", "array [10,9,1]"},
      {R"([["2",["7",1],"sort",["7",5]]])", "array [1]"},
      {R"([["2",["7",2,1],"sort",["7",5]]])", "error 10"},
      {R"([["2",["7",1],"hasOwnProperty",["7","length"]]])", "boolean true"},
      {R"([["2",["7",1],"hasOwnProperty",["7",0]]])", "boolean true"},
      {R"([["2",["7",1],"hasOwnProperty",["7",1]]])", "boolean false"},
      {R"([["2",["7",1,["7",2,3]],"toString",["7"]]])", "string \"1,2,3\""},
      {R"([["2",["7"],"foo",["7"]]])", "error 17"},
      {R"([["41","a"],["3","a",["7"]],["43",["15","a"],"f",["51","f",["7"],"own"]],["2",["15","a"],"f",["7"]]])",
       "string \"own\""},
      {R"([["41","a"],["3","a",["7"]],["43",["15","a"],"f",1],["2",["15","a"],"f",["7"]]])", "error 17"},
  });
}

TEST(APMPMethods, SortSurvivesInconsistentAndMutatingComparators) {
  APMPRuntime runtime;
  // A comparator that answers at random-looking and grows the array while
  // sorting: the sort ends, keeps every original element and reports no
  // error.
  const testkit::ScriptRun run = testkit::runScriptProgram(runtime, R"([
      ["41","a","n"],["3","a",["7",5,3,8,1,9,2,7,4,6,0]],["3","n",0],
      ["2",["15","a"],"sort",["7",["51","c",["7","x","y"],
          ["3","n",["0",["15","n"],1]],
          ["2",["15","a"],"push",["7",99]],
          ["36",["37",["25",["26",["15","n"],7],5],2]]]]]])");
  ASSERT_FALSE(run.error) << run.text;
  ASSERT_TRUE(run.value->isArray());
  const auto& sorted = static_cast<const APMPArrayValue&>(*run.value);
  ASSERT_EQ(sorted.count(), 10u);
  std::vector<double> numbers;
  APMPError error;
  for (const APMPValuePtr& element : sorted.elements()) numbers.push_back(element->doubleValueOrError(error));
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

}  // namespace

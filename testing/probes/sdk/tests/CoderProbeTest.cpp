// sdk-probe's data coder subcommands.
#include <gtest/gtest.h>

#include <string>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace {

class CoderProbeTest : public ::testing::Test {
 protected:
  testkit::ProgramRun run(const std::string& arguments) {
    return testkit::runCommand("HOME='" + home.path() + "' APP_RESOURCES='" + testkit::binFolder() +
                               "/../resources' '" + testkit::builtProgram("sdk-probe") + "' " + arguments +
                               " 2>/dev/null");
  }

  testkit::TempHome home;
};

TEST_F(CoderProbeTest, DecodeThroughEachContainer) {
  struct Case {
    std::string arguments;
    std::string out;
  };
  const Case cases[] = {
      {"coder decode --type Int --json 3.0", "=> 3\n"},
      {"coder decode --type UInt64 --json 9223372036854775807", "=> 9223372036854775807\n"},
      {"coder decode --type Int8 --json 300", "=> error Parsed JSON number <300> does not fit in Int8.\n"},
      {"coder decode --type Bool --json 1", "=> error Expected to decode Bool but found a number instead.\n"},
      {"coder decode --type '[String:Int]' --json '{\"b\":2,\"a\":1}'", "=> {\"a\":1,\"b\":2}\n"},
      {"coder decode --type '[Double]' --json '[\"nan\",1.5]' --nonconforming inf,-inf,nan", "=> [\"nan\",1.5]\n"},
      {"coder decode --type Date --json 1500 --date-strategy milliseconds", "=> 1.5\n"},
      {"coder decode --type Date --json '\"x\"' --date-strategy iso8601",
       "=> error Expected date string to be ISO8601-formatted.\n"},
      {"coder decode --type Data --json '\"%%\"' --data-strategy blob",
       "=> error Expected to decode Data but found a string/data instead.\n"},
      {"coder decode --type Int --json '{\"value\":null}' --container keyed",
       "=> error Expected Int value but found null instead.\n"},
      {"coder decode --type Int --json '{}' --container keyed",
       "=> error No value associated with key CodingKeys(stringValue: \"value\", intValue: nil) "
       "(\"value\").\n"},
      {"coder decode --type Int --json '[null]' --container unkeyed", "=> error Expected Int but found null instead.\n"},
      {"coder decode --type Int --json '[]' --container unkeyed", "=> error Unkeyed container is at end.\n"},
      {"coder decode --type Int --json null --container single",
       "=> error Expected Int but found null value instead.\n"},
      {"coder decode --type Record --json '{\"first_name\":\"Ann\"}' --key-strategy snake",
       "=> {\"firstName\":\"Ann\"}\n"},
  };
  for (const Case& c : cases) {
    testkit::ProgramRun r = run(c.arguments);
    EXPECT_EQ(r.out, c.out) << c.arguments;
    EXPECT_EQ(r.status, c.out.rfind("=> error", 0) == 0 ? 1 : 0) << c.arguments;
  }
}

TEST_F(CoderProbeTest, EncodeAndKeyConversions) {
  testkit::ProgramRun r = run(
      "coder encode --type Record --json '{\"firstName\":\"Ann\",\"userID\":7,\"createdAt\":\"1970-01-01T00:00:01Z\"}' --key-strategy snake "
      "--date-strategy iso8601 "
      "coder encode --type Double --json '\"-inf\"' --nonconforming INF,-inf,NaN "
      "coder snake-case myURLProperty coder from-snake-case __a__b__");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> {\"created_at\":\"1970-01-01T00:00:01Z\",\"first_name\":\"Ann\",\"user_id\":7}\n"
            "=> \"-inf\"\n=> my_url_property\n=> __aB__\n");
  r = run("coder encode --type Double --json '\"inf\"' --nonconforming inf,-inf,nan --date-strategy seconds");
  EXPECT_EQ(r.out, "=> \"inf\"\n");
  r = run("coder decode --type Nothing --json 1");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "=> usage: --type: unknown type 'Nothing'\n");
}

}  // namespace

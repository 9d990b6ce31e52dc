// sdk-probe's wire-* subcommands, run as scripts and CI run them.
#include <gtest/gtest.h>

#include <string>

#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

using sdkprobetest::ProbeRun;

class WireProbeTest : public sdkprobetest::SdkProbeFixture {};

TEST_F(WireProbeTest, EncodeFromASpec) {
  struct Case {
    const char* arguments;
    int status;
    const char* out;
  };
  const Case cases[] = {
      {"wire-encode Event '{\"1\":\"_vs\",\"2\":1500}'", 0, "=> 12035f767318dc0b\n"},
      {"wire-encode MeasurementBundle '{\"44\":[\"a\"],\"7\":3,\"6\":5}'", 0, "=> 3803d0010582040161\n"},
      {"wire-encode MeasurementBatch '{\"3\":4294967295}'", 0, "=> 48ffffffff0f\n"},
      {"wire-encode MeasurementBatch '{\"3\":-1}'", 0, "=> 48ffffffff0f\n"},
      {"wire-encode Event '{\"4\":-1}'", 0, "=> 28ffffffffffffffffff01\n"},
      {"wire-encode Event '{}'", 0, "=> \n"},
      {"wire-encode Region '{\"0\":\"eu\"}'", 0, "=> 0a026575\n"},
      {"wire-encode AudienceLeafFilterResult '{\"1\":{\"0\":[1]},\"3\":false}'", 0, "=> 120208012000\n"},
      {"wire-encode Event '{\"0\":[{\"0\":\"p\",\"4\":1.5}]}'", 0, "=> 0a0c0a017029000000000000f83f\n"},
      {"wire-encode Event '{\"9\":1}'", 2, "=> error bad spec: Event has no slot \"9\"\n"},
      {"wire-encode Event '{\"2\":\"x\"}'", 2, "=> error bad spec: slot 2 of Event expects an integer\n"},
      {"wire-encode MeasurementBatch '{\"3\":4294967296}'", 2, "=> error bad spec: slot 3 of MeasurementBatch is out of range\n"},
      {"wire-encode Event '[1]'", 2, "=> error bad spec: the spec of Event is not a JSON object\n"},
      {"wire-encode Nothing '{}'", 2, "=> error bad type: Nothing\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    ProbeRun r = run(c.arguments);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(WireProbeTest, DecodeAndDump) {
  ProbeRun r = run("wire-decode Event 12035f767318dc0b12017a");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> ok 8\n=> 12035f767318dc0b\n=> {\"1\":\"_vs\",\"2\":1500}\n");

  // Keys sorted bytewise; nested messages; invalid UTF-8 as null; uint32 items as int32.
  r = run("wire-decode MeasurementBundle 52014a82040161820402c328e802ffffffff0f");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> ok 19\n=> 52014ae802ffffffff0f82040161820402c328\n"
            "=> {\"10\":\"J\",\"37\":[-1],\"44\":[\"a\",null]}\n");

  // An input file of raw bytes, an empty message.
  r = run("wire-decode Flag @" + write("flag.bin", std::string("\x0a\x01\x66\x21\x00\x00\x00\x00\x00\x00\x04\x40", 12)) +
          " wire-decode Flag ''");
  EXPECT_EQ(r.out, "=> ok 12\n=> 0a0166210000000000000440\n=> {\"0\":\"f\",\"3\":2.5}\n=> ok 0\n=> \n=> {}\n");

  r = run("wire-decode Event 0a05");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "<ERROR> Event decoder failed: parent stream too short\n=> error\n");
}

TEST_F(WireProbeTest, FieldOperations) {
  ProbeRun r = run("wire-get Event '{\"2\":5}' has 2 wire-get Event '{}' has 2 wire-get Event '{}' has 0 "
              "wire-get Event '{\"2\":5}' int64 2 wire-get Event '{\"1\":\"\"}' string 1 wire-get Event '{}' string 1 "
              "wire-get Event '{}' array 0 wire-get Event '{\"0\":[{\"0\":\"a\"}]}' array 0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> YES\n=> NO\n=> YES\n=> 5\n=> \"\"\n=> nil\n=> []\n=> [{\"0\":\"a\"}]\n");
  EXPECT_EQ(r.err, "");

  r = run("wire-get Event '{\"2\":5}' int32 2 wire-get Event '{}' int32 -1 wire-get Event '{\"2\":5}' bytes 2 "
          "wire-get Event '{}' array 7");
  EXPECT_EQ(r.out, "=> 0\n=> 0\n=> nil\n=> nil\n");
  EXPECT_EQ(r.err,
            "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: 2\n"
            "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: -1\n"
            "<Nano/Failure> Field type isn't a scalar BYTES. Message: Event, field ID: 2\n"
            "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 7\n");
}

TEST_F(WireProbeTest, Flags) {
  ProbeRun r = run("wire-flag f 3 wire-flag f 2.5 wire-flag f '\"on\"' wire-flag f '[1]'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> 0a01661003\n=> 3\n"
            "=> 0a0166210000000000000440\n=> 2.5\n"
            "=> 0a01661a026f6e\n=> \"on\"\n"
            "=> nil\n");
  EXPECT_NE(r.err.find("I-ACS850002"), std::string::npos);
}

}  // namespace

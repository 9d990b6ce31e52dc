// sdk-probe's measurement base and clock subcommands, run as the CI runs them.
#include <string>

#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

using sdkprobetest::ProbeRun;

class MeasurementBaseProbeTest : public sdkprobetest::SdkProbeFixture {};

TEST_F(MeasurementBaseProbeTest, MonitorReportsSampleAndDispatch) {
  ProbeRun r = run(
      "clock 1700000000 monitor-log 1 30001 Failed "
      "'[\"x\",1234,null,{\"error\":[\"com.zoruvu.vod.measurement.ErrorDomain\",3,\"db\"]}]' "
      "monitor-dispatch 60 0 advance 61 monitor-dispatch 60 0 monitor-dispatch 60 0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> clock 1700000000\n=> logged\n=> nil\n=> at 1700000061\n"
            "=> 1:1E_120500:Failed:-,1000...9999,,com.zoruvu.vod.measurement.ErrorDomain,db\n=> nil\n");
  EXPECT_NE(r.err.find("<RedIveduruveza>[I-ACS030001] Failed: x, 1234, (nil), Error "
                       "Domain=com.zoruvu.vod.measurement.ErrorDomain Code=3"),
            std::string::npos)
      << r.err;

  // The sample is kept between runs; a silent level is sampled, never printed.
  r = run("clock 1700000000 monitor-log 5 7 Quiet '[]' clock 1700000100 monitor-dispatch 60 0 "
          "monitor-dispatch 60 1700000000");
  EXPECT_EQ(r.out, "=> clock 1700000000\n=> logged\n=> clock 1700000100\n=> 1:1W_120500:Quiet\n=> 0:\n");
  EXPECT_EQ(r.err.find("Quiet"), std::string::npos) << r.err;
  r = run("monitor-log 8 1 Verbose '[]' -APMAnalyticsVerboseLoggingEnabled monitor-log 2 3 x '[1]'");
  EXPECT_NE(r.err.find("[I-ACS000001] Verbose"), std::string::npos) << r.err;
  // The switch is kept in the preferences until a launch argument turns it off.
  EXPECT_NE(run("monitor-log 8 1 Verbose '[]'").err.find("Verbose"), std::string::npos);
  EXPECT_EQ(run("-APMAnalyticsVerboseLoggingDisabled monitor-log 8 1 Verbose '[]'").err.find("Verbose"),
            std::string::npos);
  EXPECT_EQ(run("monitor-log 8 1 Verbose '[]'").err.find("Verbose"), std::string::npos);
  EXPECT_EQ(run("monitor-log x 1 m '[]'").status, 2);
  EXPECT_EQ(run("monitor-log 1 1 m '[{\"a\":1}]'").status, 2);
}

TEST_F(MeasurementBaseProbeTest, ReservoirFollowsTheRandomSource) {
  EXPECT_EQ(run("random 0 monitor-log 1 1 First '[]' monitor-log 1 1 Second '[]' monitor-dispatch -1 0").out,
            "=> random 0\n=> logged\n=> logged\n=> 2:1E_120500:Second\n");
  EXPECT_EQ(run("random 255 monitor-log 1 1 First '[]' monitor-log 1 1 Second '[]' monitor-dispatch -1 0").out,
            "=> random 255\n=> logged\n=> logged\n=> 2:1E_120500:First\n");
  EXPECT_EQ(run("random 256").status, 2);
  EXPECT_EQ(run("advance 5").status, 2);
}

TEST_F(MeasurementBaseProbeTest, EncodingsAndDataUtilities) {
  ProbeRun r = run(
      "monitor-encode 0 monitor-encode -1234 monitor-encode '\"secret\"' monitor-encode null "
      "md5 abc query-parse 'a=1&a=2&b' query-string '{\"a\":\"x&y=z+\"}' unescape '%41+b' unescape %4 "
      "decimal .5 decimal -1.50 decimal 1e3 decimal 123456789012345678901234567890123456789 "
      "utf32len $(printf '\\360\\237\\230\\200') utf32len $(printf 'e\\314\\201')");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> 0\n=> -9999...-1000\n=> -\n=> \n"
            "=> 900150983cd24fb0d6963f7d28e17f72 -2984127896297046158\n"
            "=> {\"a\":\"1\",\"b\":\"\"}\n=> a=x%26y%3Dz%2B\n=> \"A b\"\n=> nil\n"
            "=> 0.5\n=> -1.5\n=> nil\n=> nil\n=> 1\n=> 2\n");
}

TEST_F(MeasurementBaseProbeTest, NameTablesAndDebugText) {
  ProbeRun r = run(
      "name-tables name-lookup param ad_unit_id name-lookup event ad_impression name-lookup inverse _cmp "
      "name-lookup allowed screen_view name-lookup ecommerce purchase name-lookup items custom "
      "name-lookup public _vs name-lookup event nope");
  EXPECT_EQ(r.out,
            "=> events 32 inverse 31 params 55 reserved 10 ecommerce 20 items 33\n=> _ai\n=> _ai\n"
            "=> ga_campaign\n=> nil\n=> YES\n=> NO\n=> NO\n=> nil\n");
  EXPECT_EQ(run("name-lookup nosuch x").status, 2);

  const std::string parameters = "'{\"b\":1,\"A\":\"x\",\"items\":[{\"item_id\":\"p\"}]}'";
  EXPECT_EQ(run("-APMAnalyticsDebugEnabled debug-description " + parameters).out,
            "=> {\\n    A = x;\\n    b = 1;\\n    items = [\\n    {\\n        item_id = p;\\n    }\\n    ];\\n}\n");
  EXPECT_EQ(run("-noAPMAnalyticsDebugEnabled debug-description " + parameters).out, "=> {\"b\": 1, \"A\": x, \"items\": [{\"item_id\": p}]}\n");
}

TEST_F(MeasurementBaseProbeTest, SchedulerKeepsGoingAfterAnException) {
  ProbeRun r = run("scheduler-throw sync");
  EXPECT_EQ(r.out, "=> after\n");
  const size_t thrown = r.err.find("[I-ACS030003] Exception on worker queue when processing sync block. Block "
                                   "ID=probe. Exception: ProbeException: probe");
  ASSERT_NE(thrown, std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[I-ACS030004] Synchronous task failed. Block ID=probe", thrown), std::string::npos);
  r = run("scheduler-throw async");
  EXPECT_EQ(r.out, "=> after\n");
  EXPECT_NE(r.err.find("[I-ACS030000] Exception on worker queue. Block ID=probe. Exception: ProbeException: probe"),
            std::string::npos)
      << r.err;
}

TEST_F(MeasurementBaseProbeTest, PathsAndPreferenceStore) {
  ProbeRun r = run("measurement-paths com.zoruvu.vod.measurement");
  const std::string bundle = "com.tavix.app";
  EXPECT_EQ(r.out, "=> " + home.dataHome() + "/" + bundle + "/Zoruvu/Measurement/com.zoruvu.vod.measurement\n=> " +
                       home.dataHome() + "/" + bundle + "/Zoruvu/Measurement/com.zoruvu.vod.measurement.plist\n=> " +
                       home.configHome() + "/" + bundle + "/Preferences/com.zoruvu.vod.measurement.plist\n");

  r = run("apm-defaults-set '' /k '{\"n\":[1,2.5,\"s\"]}' apm-defaults-set suite.a k 7 apm-defaults-set suite.a '' 1");
  EXPECT_EQ(r.out, "=> ok\n=> ok\n=> ok\n");
  EXPECT_NE(r.err.find("[I-ACS041002] Cannot set object for invalid user default key."), std::string::npos) << r.err;
  r = run("apm-defaults-get '' /k apm-defaults-get suite.a k apm-defaults-get '' k apm-defaults-get suite.a ''");
  EXPECT_EQ(r.out, "=> {\"n\":[1,2.5,\"s\"]}\n=> 7\n=> nil\n=> nil\n");
  EXPECT_NE(r.err.find("[I-ACS041001] Cannot get object for invalid user default key."), std::string::npos) << r.err;
  r = run("apm-defaults-set suite.a k null apm-defaults-get suite.a k");
  EXPECT_EQ(r.out, "=> ok\n=> nil\n");
}

}  // namespace

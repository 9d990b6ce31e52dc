// sdk-probe's bundling and configuration subcommands: a configuration stored
// or refused, the queue as bundling leaves it, many events at once, and the
// first upload through the fake services on the session's virtual clock.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"
#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

using sdkprobetest::ProbeRun;

class AnalyticsBundleProbeTest : public sdkprobetest::SdkProbeFixture {
 protected:
  // The output lines that begin with one of the prefixes, in order.
  static std::vector<std::string> lines(const std::string& out, const std::vector<std::string>& prefixes) {
    std::vector<std::string> found;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
      for (const std::string& prefix : prefixes) {
        if (line.starts_with(prefix)) {
          found.push_back(line);
          break;
        }
      }
    }
    return found;
  }
};

TEST_F(AnalyticsBundleProbeTest, ConfigurationsAreStoredOrRefusedWithTheirCode) {
  ProbeRun r =
      run("analytics-start 1709251200 "
          R"(analytics-config '{"version": 7, "event_config": [{"name": "spam", "blocklisted": true}]}' )"
          R"(analytics-config '{"version": 8, "app_id": "1:1:ios:other"}' )"
          R"(analytics-log spam '{}' analytics-log kept '{}' analytics-bundle)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out, {"=> config", "=> bundle 1 event", "=> bundle 1 t35=", "=> bundle 2"}),
            (std::vector<std::string>{"=> config stored", "=> config refused 23136",
                                      // The first open the start reported.
                                      R"(=> bundle 1 event _f t=1709251200000 elt=1709251200000 {"_c":1,"_o":"auto","_pfo":0,"_r":1,"_uwa":0})",
                                      R"(=> bundle 1 event _e t=1709251200000 {"_et":1,"_o":"auto"})",
                                      // The block-listed event became error event 11 at logging.
                                      R"(=> bundle 1 event _err t=1709251200000 {"_err":11,"_ev":"spam","_o":"auto"})",
                                      R"(=> bundle 1 event kept t=1709251200000 {"_o":"app"})", "=> bundle 1 t35=7"}));

  ProbeRun bad = run(R"(analytics-start 1709251200 analytics-config '{"versions": 1}')");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.out.find("=> error: the configuration has no member \"versions\""), std::string::npos) << bad.out;
}

TEST_F(AnalyticsBundleProbeTest, BundlingPrintsEveryQueuedBundle) {
  ProbeRun r =
      run("analytics-start 1709251200 "
          R"(analytics-log-internal auto _f '{"_elt": 5}' analytics-log-n 3 tap '{"n": 1}' analytics-bundle)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      lines(r.out, {"=> logged", "=> bundle 1 event", "=> bundle 1 t1=", "=> bundle 1 t5=", "=> bundle 1 t6=",
                    "=> bundle 1 t23=", "=> bundle 1 t77=", "=> bundle 2"}),
      (std::vector<std::string>{
          "=> logged _f", "=> logged 3",
          // The start's own first open and engagement, then the logged events.
          R"(=> bundle 1 event _f t=1709251200000 elt=1709251200000 {"_c":1,"_o":"auto","_pfo":0,"_r":1,"_uwa":0})",
          R"(=> bundle 1 event _e t=1709251200000 {"_et":1,"_o":"auto"})",
          R"(=> bundle 1 event _f t=1709251200000 elt=5 {"_c":1,"_o":"auto","_r":1})",
          R"(=> bundle 1 event tap t=1709251200000 {"_o":"app","n":1})",
          R"(=> bundle 1 event tap t=1709251200000 {"_o":"app","n":1})",
          R"(=> bundle 1 event tap t=1709251200000 {"_o":"app","n":1})", "=> bundle 1 t1=1",
          "=> bundle 1 t5=1709251200000", "=> bundle 1 t6=1709251200000", "=> bundle 1 t23=6", "=> bundle 1 t77=1"}));
}

TEST_F(AnalyticsBundleProbeTest, AnEmptyQueueAndABadCount) {
  // The start queues its first open; once it is uploaded the queue is empty.
  testkit::LoopbackServer server;
  testkit::FakeMeasurementConfigService configs(server);
  testkit::FakeMeasurementUploadService uploads(server);
  servicesURL = server.url();
  reachability = "reachable";
  ProbeRun r = run("analytics-start 1709251200 analytics-advance 20 analytics-bundle analytics-log-n 100001 tap '{}'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(uploads.uploadCount(), 1u);
  EXPECT_NE(r.out.find("=> bundle none\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("=> error: COUNT must be an integer from 0 to 100000"), std::string::npos) << r.out;
}

TEST_F(AnalyticsBundleProbeTest, TheFirstUploadFollowsTheConfiguration15SecondsAfterTheFirstEvent) {
  testkit::LoopbackServer server;
  testkit::FakeMeasurementConfigService configs(server);
  testkit::FakeMeasurementUploadService uploads(server);
  servicesURL = server.url();
  reachability = "reachable";
  // The first event is the first open the start reports.
  ProbeRun r = run("analytics-start 1709251200 analytics-advance 14.9 analytics-advance 10");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> requests = lines(r.out, {"=> http GET /config/app/", "=> http POST /a"});
  ASSERT_EQ(requests.size(), 2u) << r.out;
  EXPECT_TRUE(requests[0].ends_with(" at=+15.000 status=200")) << requests[0];
  EXPECT_EQ(requests[1], "=> http POST /a at=+15.000 status=204");
  const std::vector<testkit::UploadedBatch> batches = uploads.batches();
  ASSERT_EQ(batches.size(), 1u);
  ASSERT_EQ(batches[0].bundles.size(), 1u);
  const testkit::UploadedBundle& bundle = batches[0].bundles[0];
  ASSERT_EQ(bundle.eventsNamed("_f").size(), 1u);
  EXPECT_EQ(bundle.eventsNamed("_f")[0].eltValue, 1709251200000);
  EXPECT_EQ(bundle.eventsNamed("_e").size(), 1u);
}

}  // namespace

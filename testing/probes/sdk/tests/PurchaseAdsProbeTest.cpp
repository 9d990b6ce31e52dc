// sdk-probe's purchases, ads and conversion subcommands: the stand-ins
// installed before the session starts, the search-ads request they lead to,
// and the refusals of bad arguments.
#include <gtest/gtest.h>

#include <string>

#include "testing/LoopbackServer.h"
#include "testing/fakes/measurement/FakeAttributionService.h"
#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

using sdkprobetest::ProbeRun;

class PurchaseAdsProbeTest : public sdkprobetest::SdkProbeFixture {};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(PurchaseAdsProbeTest, AnAttributedInstallIsReportedAsACampaign) {
  testkit::LoopbackServer server;
  testkit::FakeAttributionService attribution(server);
  attribution.script({testkit::FakeAttributionService::attributed("11", "22", "33")});
  servicesURL = server.url();
  ProbeRun r = run("ads-token token-1 analytics-start 1709251200 analytics-raw");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "=> ads-token set\n")) << r.out;
  // The first look-up is due at once.
  EXPECT_TRUE(contains(r.out, "=> http POST /api/v1/ at=+0.000 status=200\n")) << r.out;
  EXPECT_TRUE(contains(r.out, R"(=> raw _cmp t=1709251200000 )")) << r.out;
  EXPECT_TRUE(contains(r.out, R"("campaign":"11")")) << r.out;
  EXPECT_TRUE(contains(r.out, R"("medium":"search")")) << r.out;
  EXPECT_TRUE(contains(r.out, R"("term":"33")")) << r.out;
  ASSERT_EQ(attribution.requests().size(), 1u);
  EXPECT_EQ(attribution.requests()[0].body, "token-1");
  EXPECT_EQ(attribution.requests()[0].header("Content-Type"), "text/plain");
  EXPECT_EQ(attribution.requests()[0].header("cache-control"), "no-cache");
}

TEST_F(PurchaseAdsProbeTest, TheStandInsAreFoundAtStartAndTheirSubcommandsRun) {
  ProbeRun r = run(
      R"(purchase-store '[{"id":"gem","price":"2.01","currency":"USD","title":"Gem"}]' psm-fake /psm/query )"
      "conversion-fake 10000 - analytics-start 1709251200 "
      R"(purchase-emit '[{"id":"t-1","original_id":"t-1","product":"gem","quantity":3,"state":"purchased"}]' )"
      "ad-exposure begin banner ad-exposure end banner "
      R"(analytics-user-data '{"email_address":"ann@example.com","hashed_phone_number":"0a0b"}' )"
      "analytics-monitor 23253 analytics-monitor 23279 analytics-monitor 1011");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out,
                       "=> products 1\n"
                       "=> psm-fake /psm/query\n"
                       "=> conversion-fake 10000\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out,
                       "=> emitted 1\n"
                       "=> ad-exposure begin banner units=1\n"
                       "=> ad-exposure end banner units=0\n"
                       "=> user data set\n"
                       "=> monitor 7 23253 On-device conversion measurement is ready to initiate\n"
                       // The service is linked: the framework is not reported missing.
                       "=> monitor none\n"
                       // The probe's application never became active.
                       "=> monitor 8 1011 Ad unit exposure not logged. App is not active.\n"))
      << r.out;
}

TEST_F(PurchaseAdsProbeTest, BadArgumentsAreRefused) {
  expectAll({
      {"purchase-store '{}'", 2, "=> error: JSON must be an array of objects\n"},
      {R"(purchase-store '[{"id":"gem"}]')", 2, "=> error: each product needs an \"id\" and a \"price\" text\n"},
      {"purchase-emit '[]'", 2, "=> error: no analytics session (use analytics-start EPOCH first)\n"},
      {"psm-fake relative", 2, "=> error: PATH must begin with \"/\"\n"},
      {"conversion-fake x v", 2, "=> error: VERSION must be an integer\n"},
      {"analytics-start 1709251200 purchase-emit '[]'", 2,
       "=> http POST /v1/projects/tavix-downloader/installations/ at=+0.000 status=0\n"
       "=> analytics started enabled=YES\n"
       "=> error: no fake store (use purchase-store JSON before analytics-start)\n"},
      {"analytics-start 1709251200 ad-exposure sideways x", 2,
       "=> http POST /v1/projects/tavix-downloader/installations/ at=+0.000 status=0\n"
       "=> analytics started enabled=YES\n"
       "=> error: the edge must be \"begin\" or \"end\"\n"},
      {R"(analytics-start 1709251200 analytics-user-data '{"hashed_email_address":"@/etc/passwd"}')", 2,
       "=> http POST /v1/projects/tavix-downloader/installations/ at=+0.000 status=0\n"
       "=> analytics started enabled=YES\n"
       "=> error: \"hashed_email_address\" must be lower-case hex\n"},
  });
}

}  // namespace

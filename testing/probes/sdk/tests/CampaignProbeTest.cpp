// sdk-probe's campaign, TCF and experiment subcommands in the analytics
// session: the launch address, opened addresses and activities, the stored
// ad campaign info, sZTM headers, the TCF values and the experiment fetch.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"
#include "testing/fakes/measurement/FakeExperimentService.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"
#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

using sdkprobetest::ProbeRun;

class CampaignProbeTest : public sdkprobetest::SdkProbeFixture {
protected:
    // The output lines that begin with one of the prefixes, in order.
    static std::vector<std::string> lines(const std::string& out,
                                          const std::vector<std::string>& prefixes) {
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

TEST_F(CampaignProbeTest, LaunchAddressOpenedAddressesAndTheirCampaigns) {
    ProbeRun r = run(
        "tcf-stored launch-url 'tavix://open?sztm_debug_enable=1&sztm_preview_key=PK' "
        R"(tcf-set '{"IABTCF_gdprApplies":1,"IABTCF_EnableAdvertiserConsentMode":1,"IABTCF_CmpSdkID":300,)"
        R"("IABTCF_PolicyVersion":4,"IABTCF_PurposeConsents":"1111111"}' )"
        "analytics-start 1709251200 tcf-stored sztm-headers campaign-info "
        "open-url 'tavix://x?gclid=G&gad_source=3&utm_source=s' campaign-info "
        "open-activity 'https://t.example/?utm_medium=m' https://www.zoruvu.com/ "
        "open-activity 'https://t.example/?utm_campaign=c' - analytics-raw");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "=> tcf none\n"
        "=> launch url tavix://open?sztm_debug_enable=1&sztm_preview_key=PK\n"
        "=> tcf set 5\n"
        "=> http POST /v1/projects/tavix-downloader/installations/ at=+0.000 status=0\n"
        "=> analytics started enabled=YES\n"
        "=> tcf "
        "_v_=2,isTCFDataEnabled=1,isAdvertiserConsentModeEnabled=1,cmpSDKID=300,gdprApplies=1,"
        "policyVersion=4,purposeConsents=1111111\n"
        "=> sztm X-Ztm-Server-Preview=PK\n"
        "=> campaign none\n"
        "=> opened\n"
        "=> campaign gclid=G gad_source=3 ts=1709251200000 gad=gad_source:3\n"
        "=> opened\n"
        "=> opened\n"
        // The first open of the start, in debug mode.
        R"(=> raw _f t=1709251200000 rt=1 {"_c":1,"_dbg":1,"_elt":1709251200000,"_o":"auto","_pfo":0,"_r":1,"_uwa":0})"
        "\n"
        R"(=> raw _e t=1709251200000 rt=1 {"_dbg":1,"_et":1,"_o":"auto","_r":1})"
        "\n"
        // The vendor has no consent and nothing was stored before: the one-time fix.
        R"(=> raw _tcf t=1709251200000 rt=1 {"_dbg":1,"_o":"auto","_r":1,"_tcfd":"14I4f","_tcfd2":"24445","_tcfm":"10"})"
        "\n"
        R"(=> raw _cmp t=1709251200000 rt=1 {"_dbg":1,"_o":"auto","_r":1,"gad_source":"3","gclid":"G","source":"s"})"
        "\n"
        R"(=> raw _cmp t=1709251200000 rt=1 {"_dbg":1,"_o":"gs","_r":1,"medium":"m"})"
        "\n"
        R"(=> raw _cmp t=1709251200000 rt=1 {"_dbg":1,"_o":"auto","_r":1,"campaign":"c"})"
        "\n");
}

TEST_F(CampaignProbeTest, OrderAndArgumentsAreChecked) {
    for (const Case& c : std::vector<Case>{
             {"analytics-start 1709251200 launch-url tavix://x", 2,
              "=> error: launch-url must come before analytics-start\n"},
             {"tcf-set '[1]'", 2, "=> error: JSON must be an object\n"},
             {R"(tcf-set '{"IABTCF_gdprApplies":true}')", 2,
              "=> error: IABTCF_gdprApplies must be a string or an integer\n"},
             {"open-url tavix://x", 2,
              "=> error: no analytics session (use analytics-start EPOCH first)\n"},
         }) {
        SCOPED_TRACE(c.arguments);
        ProbeRun r = run(c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.ends_with(c.out)) << r.out;
    }
}

// The running application asks for its experiments 10 s after the engine
// starts; the fetched snapshot is put in force once an upload leaves nothing
// to send, and its flags then answer the look-up.
TEST_F(CampaignProbeTest, ExperimentsAreFetchedTenSecondsAfterTheStartAndThenAnswerFlags) {
    testkit::LoopbackServer server;
    testkit::FakeExperimentService experiments(server);
    testkit::FakeMeasurementConfigService configs(server);
    testkit::FakeMeasurementUploadService uploads(server);
    experiments.script({testkit::ExperimentAnswer::response(
        {{"app_measurement", {{7, {{"ratio", 0.25}}}, {0, {{"rollout", "on"}}}}}})});
    servicesURL = server.url();
    reachability = "reachable";
    ProbeRun r = run(
        "analytics-start 1709251200 analytics-advance 9.9 analytics-advance 0.1 "
        "exp-flag app_measurement rollout analytics-log tap '{}' analytics-advance 15 "
        "exp-flag app_measurement rollout exp-flag app_measurement ratio "
        "exp-flag app_measurement missing exp-flag other_sdk rollout");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out, {"=> http POST /sdk-exp", "=> http POST /a ", "=> nil", "=> on", "=> 0"}),
              (std::vector<std::string>{"=> http POST /sdk-exp at=+10.000 status=200", "=> nil",
                                        "=> http POST /a at=+15.000 status=204", "=> on", "=> 0.25",
                                        "=> nil", "=> nil"}))
        << r.out;
    ASSERT_EQ(experiments.fetchCount(), 1u);
    const testkit::ExperimentFetch fetch = experiments.fetches()[0];
    ASSERT_EQ(fetch.clients.size(), 1u);
    EXPECT_EQ(fetch.clients[0].name, "app_measurement");
    EXPECT_EQ(fetch.clients[0].version, 120500);
}

}  // namespace

// sdk-probe's campaign, TCF and experiment subcommands in the analytics
// session: the launch address, opened addresses and activities, the stored
// ad campaign info, sZTM headers, the TCF values and the experiment fetch.
#include <gtest/gtest.h>

#include <string>

#include "testing/LoopbackServer.h"
#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

using sdkprobetest::ProbeRun;

class CampaignProbeTest : public sdkprobetest::SdkProbeFixture {};

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

}  // namespace

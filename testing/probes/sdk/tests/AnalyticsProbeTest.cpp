// sdk-probe's analytics session: a real engine started as the application
// starts it, events through the public interface, what it stored, monitor
// lines, consent, the bundle consent fields, the log sink and the hour.
#include <gtest/gtest.h>

#include <string>

#include "testing/LoopbackServer.h"
#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

using sdkprobetest::ProbeRun;

class AnalyticsProbeTest : public sdkprobetest::SdkProbeFixture {};

// Configuring the SDK registers the installation, at an address that does not answer.
const char* const kStarted =
    "=> http POST /v1/projects/tavix-downloader/installations/ at=+0.000 status=0\n"
    "=> analytics started enabled=YES\n";

TEST_F(AnalyticsProbeTest, EventsOfTheSessionAreStoredWithTheirTimeAndMarks) {
  ProbeRun r = run(
      "analytics-start 1709251200 "
      R"(analytics-log button_tap '{"id":3,"ratio":2,"half":0.5,"name":"x"}' )"
      R"(analytics-advance 2.5 analytics-log-internal auto _f '{}' )"
      R"(analytics-log 'bad name' '{}' analytics-raw analytics-props)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            std::string(kStarted) +
            "=> logged button_tap\n"
            "=> at +2.500\n"
            "=> logged _f\n"
            "=> logged bad name\n"
            // The start's own first open (real-time) and its engagement.
            R"(=> raw _f t=1709251200000 rt=1 {"_c":1,"_elt":1709251200000,"_o":"auto","_pfo":0,"_uwa":0})" "\n"
            R"(=> raw _e t=1709251200000 rt=0 {"_et":1,"_o":"auto"})" "\n"
            R"(=> raw button_tap t=1709251200000 rt=0 {"_o":"app","half":0.5,"id":3,"name":"x","ratio":2})" "\n"
            // A first open is a conversion outside the real-time limit.
            R"(=> raw _f t=1709251202500 rt=1 {"_c":1,"_o":"auto"})" "\n"
            // The invalid public name became error event 2.
            R"(=> raw _err t=1709251202500 rt=0 {"_err":2,"_ev":"bad name","_o":"auto"})" "\n"
            // First open after install (no earlier version stored), at the next whole hour.
            "=> prop _fi=1 set=1709251200000\n"
            "=> prop _fot=1709254800000 set=1709251200000\n");
}

TEST_F(AnalyticsProbeTest, DefaultsMonitorLinesAndConsent) {
  ProbeRun r = run(
      "analytics-start 1709251200 "
      R"(analytics-defaults '{"plan":"pro","bad!":1}' analytics-log screen_open '{}' analytics-defaults null )"
      "analytics-monitor 23214 analytics-monitor 23016 analytics-monitor 99999 "
      R"(analytics-consent '{"ad_storage":"denied","analytics_storage":"granted"}' analytics-consent-state )"
      "analytics-raw");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            std::string(kStarted) +
            "=> defaults set\n"
            "=> logged screen_open\n"
            "=> defaults set\n"
            "=> monitor 4 23214 Invalid default event parameter name. Name\n"
            "=> monitor 7 23016 Analytics is ready to receive events\n"
            "=> monitor none\n"
            "=> consent signals=G101 diagnostics=15599 source=10\n"
            "=> consent signals=G101 diagnostics=15599 source=10\n"
            // The launch's events of this session took the defaults as well.
            R"(=> raw _f t=1709251200000 rt=0 {"_c":1,"_elt":1709251200000,"_o":"auto","_pfo":0,"_uwa":0,"plan":"pro"})" "\n"
            R"(=> raw _e t=1709251200000 rt=0 {"_et":1,"_o":"auto","plan":"pro"})" "\n"
            R"(=> raw screen_open t=1709251200000 rt=0 {"_o":"app","plan":"pro"})" "\n");
}

TEST_F(AnalyticsProbeTest, RequestsArePrintedWhenTheyEnd) {
  testkit::LoopbackServer server;
  servicesURL = server.url();
  ProbeRun r = run("analytics-start 1709251200 analytics-advance 1");
  EXPECT_EQ(r.status, 0) << r.err;
  // Configuring registers the installation; the fake answers 404 to everything.
  EXPECT_NE(r.out.find("=> http POST /v1/projects/"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("/installations/ at=+0.000 status=404\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("=> analytics started enabled=YES\n"), std::string::npos);
  EXPECT_NE(r.out.find("=> at +1.000\n"), std::string::npos);
}

TEST_F(AnalyticsProbeTest, SubcommandsNeedTheSession) {
  for (const char* arguments : {"analytics-raw", "analytics-advance 1", "analytics-log x '{}'"}) {
    SCOPED_TRACE(arguments);
    ProbeRun r = run(arguments);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "=> error: no analytics session (use analytics-start EPOCH first)\n");
  }
  ProbeRun twice = run("analytics-start 1700000000 analytics-start 1700000000");
  EXPECT_EQ(twice.status, 1);
  EXPECT_NE(twice.out.find("=> error: the analytics session was started already\n"), std::string::npos);
}

TEST_F(AnalyticsProbeTest, BundleConsentFieldsUnderEachConsent) {
  struct Case {
    const char* json;
    const char* out;
  };
  const Case cases[] = {
      {R"({"signals":"G111","identity":{"adid":"A","lat":false,"vendor":"V","instance":"I","att":3},)"
       R"("bundle":{"9":"14.2.1","10":"Mac1,1","63":"tok","29":2}})",
       "=> tag 9=14.2.1\n=> tag 10=Mac1,1\n=> tag 19=A\n=> tag 20=0\n=> tag 21=I\n=> tag 29=2\n=> tag 52=G111\n"
       "=> tag 53=3\n=> tag 63=tok\n"},
      // Analytics storage denied: vendor ID, instance, token and audiences go.
      {R"({"signals":"G11d","identity":{"vendor":"V","instance":"I"},"bundle":{"63":"tok","29":1}})",
       "=> tag 52=G11d\n"},
      // No limited-ad-tracking state known: the vendor ID; a gated status 6 is not written.
      {R"({"signals":"G111","gate":true,"identity":{"adid":"A","vendor":"V","att":6}})",
       "=> tag 27=V\n=> tag 52=G111\n"},
      {R"({"identity":{"instance":"I","ephemeral":"E"},"bundle":{"9":"14.2.1","10":"Mac1,1"},)"
       R"("redact":["app_instance_id","device_info"]})",
       "=> tag 9=14\n=> tag 64=app_instance_id,device_info\n=> tag 65=E\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    ProbeRun r = run(std::string("bundle-consent '") + c.json + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(AnalyticsProbeTest, LogSinkLinesAndThePreviousHour) {
  ProbeRun r = run("asl-log 1 23000 'rate 5%' asl-log 7 23001 debug asl-log 9 23002 odd prev-hour 7200000 prev-hour 7199999");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> level=3 force=0\n=> level=7 force=1\n=> level=4 force=0\n=> 3600000\n=> 0\n");
  // The percent sign prints as it is; the forced debug line gets through too.
  EXPECT_NE(r.err.find("<RedIveduruveza>[I-ACS023000] rate 5%"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[I-ACS023001] debug"), std::string::npos) << r.err;
}

TEST_F(AnalyticsProbeTest, SessionsScreensAndUserStateThroughTheProbe) {
  ProbeRun r = run(
      "analytics-start 1709251200 analytics-session-id analytics-activate analytics-screen Home HomeView "
      "analytics-advance 2 analytics-screen Detail - analytics-session-id analytics-prop plan pro "
      "analytics-user-id u1 analytics-user-id - analytics-session-timeout 60 analytics-resign analytics-props "
      "analytics-reset");
  EXPECT_EQ(r.status, 0) << r.err;
  const auto has = [&r](const std::string& line) { return r.out.find(line + "\n") != std::string::npos; };
  EXPECT_TRUE(has("=> error 13 Session expired")) << r.out;
  EXPECT_TRUE(has("=> activated"));
  EXPECT_TRUE(has("=> logged screen_view"));
  EXPECT_TRUE(has("=> session_id 1709251200")) << r.out;
  EXPECT_TRUE(has("=> user property set plan"));
  EXPECT_TRUE(has("=> session timeout set"));
  EXPECT_TRUE(has("=> resigned"));
  EXPECT_TRUE(has(R"(=> prop plan="pro" set=1709251202000)")) << r.out;
  EXPECT_TRUE(has("=> prop _sno=1 set=1709251200000")) << r.out;
  EXPECT_EQ(r.out.find("=> prop _id="), std::string::npos) << r.out;
  EXPECT_TRUE(has("=> reset done"));
}

}  // namespace

// Addresses that open the application: the campaign event built from an
// address and its extras, the stored ad campaign info, the launch address,
// sZTM preview mode and the deferred deep link against a loopback service.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "measurement/base/APMDefaultIdentitySupport.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/engine/APMMeasurementUtil.h"
#include "measurement/engine/tests/MeasurementEngineTestSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/app/UserActivity.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/runtime/ClassRegistry.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::parameterValue;
using measurementtest::RawEventRow;
using platform::Dictionary;
using platform::Value;

// The process-wide sZTM preview headers, null when there are none.
Value previewHeaders() {
    std::optional<Dictionary> headers = APMMeasurement::SZTMPreviewHeaders();
    return headers ? Value(*headers) : Value();
}

constexpr const char* kAdvertisingID = "6D92078A-8246-4BA4-AE5B-76104861E7DC";

// A platform identity component with an advertising ID and tracking allowed.
class AdvertisingIdentity : public APMIdentitySupport {
public:
    bool hasAppDataConsentStatus() override { return true; }
    uint64_t appDataConsentStatus() override { return 3; }
    bool hasLimitedAdTracking() override { return true; }
    bool limitedAdTracking() override { return false; }
    std::optional<std::string> resettableDeviceID() override { return kAdvertisingID; }
};

class DeepLinkTest : public ::testing::Test {
protected:
    // sZTM preview mode switches the process-wide monitor: put it back.
    ~DeepLinkTest() override {
        std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
        if (monitor->isDebugModeEnabled() != m_debugMode) monitor->setDebugModeEnabled(m_debugMode);
        monitor->setLogLevel(m_logLevel);
    }

    // Opens an address as the application hands it in, and waits.
    void open(const std::string& url, const std::optional<std::string>& referrer = std::nullopt) {
        world.engine()->handleNonFirstOpenEventURL(url, world.clock()->now(), referrer);
        world.settle();
    }

    void openWithExtras(const std::string& url, const Dictionary& extras,
                        std::optional<int64_t> click = {}) {
        const double now = world.clock()->now();
        world.onWorkerQueue([&](APMMeasurement& engine) {
            engine.handleOpenURLOnWorkerQueue(url, click, now, extras);
        });
        world.settle();
    }

    std::vector<RawEventRow> campaigns() {
        std::vector<RawEventRow> found;
        for (const RawEventRow& row : world.rawEvents()) {
            if (row.name == "_cmp" || row.name == "_cmpx") found.push_back(row);
        }
        return found;
    }

    std::shared_ptr<APMPBAdCampaignInfo> storedCampaignInfo() {
        std::optional<Value> buffer = world.engine()->persistedConfig()->adCampaignInfoBuffer();
        if (!buffer || !buffer->asData()) return nullptr;
        return APMPBAdCampaignInfo::initWithBuffer(*buffer->asData());
    }

    MeasurementEngineWorld world;
    const bool m_debugMode = APMEngineServices::monitor()->isDebugModeEnabled();
    const int64_t m_logLevel = APMEngineServices::monitor()->logLevel();
};

TEST_F(DeepLinkTest, CampaignParametersComeFromTheQueryThroughTheMap) {
    struct Case {
        const char* url;
        Dictionary parameters;  // of the one campaign event; empty: no event
        int64_t code;           // the line written instead, 0 for none
    };
    const Case cases[] = {
        {"tavix://open?utm_source=news&utm_medium=mail",
         Dictionary{{"source", "news"}, {"medium", "mail"}}, 0},
        {"tavix://"
         "open?utm_campaign=spring&utm_term=x&utm_id=7&cis=c&anid=a&utm_content=v&aclid=l&cp1=p",
         Dictionary{{"campaign", "spring"},
                    {"term", "x"},
                    {"campaign_id", "7"},
                    {"_cis", "c"},
                    {"anid", "a"},
                    {"content", "v"},
                    {"aclid", "l"},
                    {"cp1", "p"}},
         0},
        {"https://tavix.example/"
         "p?sfmc_id=9&utm_creative_format=f&utm_marketing_tactic=t&utm_source_platform=s",
         Dictionary{{"sfmc_id", "9"},
                    {"creative_format", "f"},
                    {"marketing_tactic", "t"},
                    {"source_platform", "s"}},
         0},
        // Click IDs are kept: this system has no app-tracking authorization.
        {"tavix://open?gclid=G1&dclid=D1&srsltid=S1&other=x",
         Dictionary{{"gclid", "G1"}, {"dclid", "D1"}, {"srsltid", "S1"}}, 0},
        // A lone "gad_" key is a campaign and keeps its name.
        {"tavix://open?gad_campaignid=77", Dictionary{{"gad_campaignid", "77"}}, 0},
        // The first occurrence wins; empty values are left out; escapes decode.
        {"tavix://open?utm_source=a%20b&utm_source=second&utm_medium=",
         Dictionary{{"source", "a b"}}, 0},
        // A malformed escape is kept as written.
        {"tavix://open?utm_source=50%zz&utm_medium=m",
         Dictionary{{"source", "50%zz"}, {"medium", "m"}}, 0},
        {"tavix://open?utm_content=only&foo=1", Dictionary(), 23001},
        {"tavix://open?utm_source=", Dictionary(), 23001},
        {"tavix://open", Dictionary(), 23000},
    };
    world.start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        world.clearMonitorLines();
        const size_t before = campaigns().size();
        open(c.url);
        std::vector<RawEventRow> rows = campaigns();
        if (c.parameters.empty()) {
            EXPECT_EQ(rows.size(), before);
            EXPECT_TRUE(world.reported(c.code));
            continue;
        }
        ASSERT_EQ(rows.size(), before + 1);
        const RawEventRow& row = rows.back();
        EXPECT_EQ(row.name, "_cmp");
        EXPECT_EQ(row.origin, "auto");
        for (const auto& [name, value] : c.parameters)
            EXPECT_EQ(parameterValue(row, name), value) << name;
        for (const auto& [name, value] : row.parameters) {
            if (!name.starts_with("_") || name == "_cis") {
                EXPECT_TRUE(c.parameters.contains(name)) << "extra " << name;
            }
        }
    }
}

TEST_F(DeepLinkTest, TheReferrerHostDecidesTheOrigin) {
    struct Case {
        std::optional<std::string> referrer;
        const char* origin;
    };
    const Case cases[] = {
        {"https://zoruvu/search", "gs"},
        {"https://www.zoruvu.com/search?q=x", "gs"},
        {"https://zoruvu.co/x", "gs"},
        {"https://zoruvu.de/x", "gs"},
        {"https://www.zoruvu.co.uk/x", "gs"},
        {"https://zoruvu.com.br/x", "gs"},
        {"https://zoruvu.cat/x", "gs"},
        {"https://evil.com/x", "auto"},
        {"https://zoruvu.com.evil.org/x", "auto"},
        {"https://notzoruvu.com/x", "auto"},
        {"https://zoruvu.comm/x", "auto"},
        {"not an address", "auto"},
        {std::nullopt, "auto"},
    };
    world.start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.referrer.value_or("(none)"));
        open("tavix://open?utm_source=s", c.referrer);
        std::vector<RawEventRow> rows = campaigns();
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().origin, c.origin);
    }
}

TEST_F(DeepLinkTest, NumberExtrasClickTimeAndTheFirstOpenTime) {
    world.start();
    // "_cc" = 1 makes the click-campaign event; number extras join the parameters.
    openWithExtras("tavix://open?gclid=abc",
                   Dictionary{{"_cc", 1}, {"_ref", "https://other.example/"}}, 1709251000123);
    std::vector<RawEventRow> rows = campaigns();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "_cmpx");
    EXPECT_EQ(parameterValue(rows[0], "_cc"), Value(1LL));
    EXPECT_EQ(parameterValue(rows[0], "click_timestamp"), Value(1709251000123LL));
    EXPECT_FALSE(rows[0].parameters.contains("_ref"));

    // An event time before the first open takes the first-open time (whole seconds).
    world.engine()->persistedConfig()->setFirstOpenTimestampMilliseconds(
        static_cast<int64_t>(MeasurementEngineWorld::kEpoch * 1000) + 7999);
    openWithExtras("tavix://open?utm_source=s", Dictionary{{"_cc", 2}});
    rows = campaigns();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].name, "_cmp");
    EXPECT_EQ(rows[1].timestamp, MeasurementEngineWorld::kEpoch + 7);
}

TEST_F(DeepLinkTest, ClickDataReplacesTheStoredAdCampaignInfo) {
    world.start();
    open("tavix://open?utm_source=plain");
    EXPECT_EQ(storedCampaignInfo(), nullptr);

    world.clock()->advance(3);
    open("tavix://open?gclid=G&gbraid=B&gad_source=1&gad_campaignid=77&utm_source=s");
    std::shared_ptr<APMPBAdCampaignInfo> info = storedCampaignInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(APMPBGetString(info.get(), APMPBAdCampaignInfoSlot::kGclid), "G");
    EXPECT_EQ(APMPBGetString(info.get(), APMPBAdCampaignInfoSlot::kGbraid), "B");
    EXPECT_EQ(APMPBGetString(info.get(), APMPBAdCampaignInfoSlot::kGadSource), "1");
    EXPECT_EQ(APMPBGetInt64(info.get(), APMPBAdCampaignInfoSlot::kTimestamp),
              static_cast<int64_t>((MeasurementEngineWorld::kEpoch + 3) * 1000));
    std::vector<std::string> entries;
    for (APMPBMessageView& entry :
         APMPBGetMessageViews(info.get(), APMPBAdCampaignInfoSlot::kDeepLinkGadParams)) {
        entries.push_back(
            APMPBGetString(&entry, APMPBDeepLinkGadParamsEntrySlot::kKey).value_or("") + ":" +
            APMPBGetString(&entry, APMPBDeepLinkGadParamsEntrySlot::kValue).value_or(""));
    }
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"gad_campaignid:77", "gad_source:1"}));

    // A gad-only campaign replaces it: no click IDs any more.
    open("tavix://open?gad_source=2");
    info = storedCampaignInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(APMPBHasField(info.get(), APMPBAdCampaignInfoSlot::kGclid));
    EXPECT_EQ(APMPBGetString(info.get(), APMPBAdCampaignInfoSlot::kGadSource), "2");
}

TEST_F(DeepLinkTest, UserActivitiesAndTheWorkerQueueRefusal) {
    world.start();
    platform::UserActivity browsing{platform::kUserActivityTypeBrowsingWeb,
                                    "https://tavix.example/?utm_source=web",
                                    "https://www.zoruvu.com/"};
    EXPECT_EQ(APMMeasurement::deepLinkFromUserActivity(browsing), browsing.webpageURL);
    EXPECT_EQ(APMMeasurement::deepLinkFromUserActivity(
                  {"com.tavix.handoff", "https://tavix.example/", std::nullopt}),
              std::nullopt);
    EXPECT_TRUE(world.reported(23006));

    APMAnalytics::handleUserActivity(browsing);
    world.settle();
    std::vector<RawEventRow> rows = campaigns();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].origin, "gs");

    // Called on the worker queue the entry refuses and nothing is logged.
    world.onWorkerQueue([](APMMeasurement& engine) {
        engine.handleNonFirstOpenEventURL("tavix://open?utm_source=q", 0, std::nullopt);
    });
    world.settle();
    EXPECT_TRUE(world.reported(23163));
    EXPECT_EQ(campaigns().size(), 1u);
}

TEST_F(DeepLinkTest, TheLaunchAddressIsStoredWithItsTimeAndReferrer) {
    std::shared_ptr<APMUserDefaults> defaults = APMUserDefaults::sharedUserDefaults();
    auto activity = std::make_shared<platform::UserActivity>(
        platform::UserActivity{platform::kUserActivityTypeBrowsingWeb,
                               "https://tavix.example/?gclid=A", "https://www.zoruvu.com/"});
    const Dictionary activities{
        {APMMeasurement::kLaunchOptionsUserActivityKey, Value::opaque(activity)}};

    // The activity wins over the launch address; the address still switches sZTM.
    world.clock()->advance(4);
    APMMeasurement::handleStoredURLAfterAppLaunchWithNotification(
        {platform::kApplicationDidFinishLaunchingNotification,
         {},
         Dictionary{{APMMeasurement::kLaunchOptionsUserActivityDictionaryKey, activities},
                    {APMMeasurement::kLaunchOptionsURLKey,
                     "tavix://open?sztm_debug_enable=1&sztm_preview_key=K"}},
         {}});
    EXPECT_EQ(defaults->stringForKey(kAPMDeepLinkKey), "https://tavix.example/?gclid=A");
    EXPECT_EQ(defaults->stringForKey(kAPMDeepLinkReferrerKey), "https://www.zoruvu.com/");
    EXPECT_EQ(defaults->doubleForKey(kAPMDeepLinkTimestampKey), MeasurementEngineWorld::kEpoch + 4);
    EXPECT_EQ(previewHeaders(), Value(Dictionary{{"X-Ztm-Server-Preview", "K"}}));

    // The address alone is stored without referrer.
    APMMeasurement::handleStoredURLAfterAppLaunchWithNotification(
        {platform::kApplicationDidFinishLaunchingNotification,
         {},
         Dictionary{{APMMeasurement::kLaunchOptionsURLKey, "tavix://open?utm_source=launch"}},
         {}});
    EXPECT_EQ(defaults->stringForKey(kAPMDeepLinkKey), "tavix://open?utm_source=launch");
    EXPECT_EQ(defaults->objectForKey(kAPMDeepLinkReferrerKey), std::nullopt);
}

TEST_F(DeepLinkTest, SZTMPreviewModeFollowsTheAddress) {
    struct Step {
        const char* url;
        std::optional<std::string> key;  // the preview key after the step
        bool debugMode;
    };
    const Step steps[] = {
        {"tavix://open?sztm_debug_enable=1&sztm_preview_key=abc", "abc", true},
        {"tavix://open?utm_source=x", "abc", true},  // nothing said: unchanged
        {"tavix://open?sztm_debug_enable=2&sztm_preview_key=z", "abc", true},
        {"tavix://open?sztm_debug_enable=1", std::nullopt, true},  // on, without headers
        {"tavix://open?sztm_debug_enable=1&sztm_preview_key=k%2F1", "k/1", true},
        {"tavix://open?sztm_debug_enable=0&sztm_preview_key=abc", std::nullopt, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.url);
        APMMeasurement::handleSZTMDebugModeWithURL(step.url);
        EXPECT_EQ(previewHeaders(),
                  step.key ? Value(Dictionary{{"X-Ztm-Server-Preview", *step.key}}) : Value());
        EXPECT_EQ(APMEngineServices::monitor()->isDebugModeEnabled(), step.debugMode);
    }
    // The upload reads them through the engine's services.
    world.start();
    APMMeasurement::handleSZTMDebugModeWithURL(
        "tavix://open?sztm_debug_enable=1&sztm_preview_key=up");
    EXPECT_EQ(APMEngineServices::SZTMPreviewHeaders()->get("X-Ztm-Server-Preview"), Value("up"));
}

class DeferredDeepLinkTest : public DeepLinkTest {
protected:
    void SetUp() override {
        world.env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"},
                             {"CFBundleShortVersionString", "2.5"},
                             {"CFBundleVersion", "2.5.1"},
                             {"ZORUVU_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED", true}});
        platform::ClassRegistry& registry = platform::ClassRegistry::shared();
        ASSERT_TRUE(registry.registerClass(APMDefaultIdentitySupport::kPlatformClassName));
        registry.addMethod(
            APMDefaultIdentitySupport::kPlatformClassName, "sharedInstance",
            [](platform::Object*, const platform::Arguments&) -> std::any {
                return std::shared_ptr<APMIdentitySupport>(std::make_shared<AdvertisingIdentity>());
            },
            platform::MethodKind::Class);
        auto support = std::make_shared<APMDefaultIdentitySupport>();
        registry.removeClass(APMDefaultIdentitySupport::kPlatformClassName);
        // The support answers within a short wait or at the next call: wait
        // until it holds the identifier, so every later read has it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (support->resettableDeviceID() != kAdvertisingID &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        ASSERT_EQ(support->resettableDeviceID(), kAdvertisingID);
        APMDefaultIdentitySupport::setSharedInstanceForTesting(support);
        world.start();
    }

    bool allowed() {
        bool answer = false;
        world.onWorkerQueue([&answer](APMMeasurement& engine) {
            answer = engine.shouldAllowRequestDeferredDeepLink();
        });
        return answer;
    }

    void request() {
        world.onWorkerQueue([](APMMeasurement& engine) { engine.requestDeferredDeepLink(); });
        world.settle();
    }

    std::vector<testkit::RecordedRequest> requests() {
        return world.services.requests(APMMeasurement::kDeferredDeepLinkPath);
    }
};

TEST_F(DeferredDeepLinkTest, AStartWithoutSettingsAsksOnceTheConfigurationHasArrived) {
    testkit::FakeMeasurementConfigService configs(world.services);
    world.services.on("GET", APMMeasurement::kDeferredDeepLinkPath,
                      testkit::Answer::json(200, R"({"deeplink":"tavix://open?gclid=G"})"));
    // The start found no settings yet: the request waits for them.
    world.advance(14);
    EXPECT_TRUE(requests().empty());
    APMAnalytics::logEventWithName("tap", Dictionary());
    world.settle();
    world.advance(15);
    ASSERT_EQ(configs.fetchCount(), 1u);
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0].query, "sdk_version=120500&rdid=" + std::string(kAdvertisingID) +
                                       "&id_type=idfa&bundleid=com.tavix.app&retry=0&gcs=" +
                                       APMConsentSettingsUtil::consentSignals() + "&dma=1");
    EXPECT_TRUE(world.engine()->persistedConfig()->deferredDeepLinkRetrievalComplete());
    // Asked once: later configurations do not ask again.
    world.onWorkerQueue([](APMMeasurement& engine) { engine.fetchRemoteConfig(); });
    world.settle();
    EXPECT_EQ(configs.fetchCount(), 2u);
    EXPECT_EQ(requests().size(), 1u);
}

TEST_F(DeferredDeepLinkTest, FailedAttemptsCountUpToTheLimit) {
    world.services.on("GET", APMMeasurement::kDeferredDeepLinkPath,
                      testkit::Answer::text(500, "{}"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(allowed());
        request();
        ASSERT_EQ(requests().size(), static_cast<size_t>(attempt + 1));
        EXPECT_EQ(requests().back().query,
                  "sdk_version=120500&rdid=" + std::string(kAdvertisingID) +
                      "&id_type=idfa&bundleid=com.tavix.app&retry=" + std::to_string(attempt) +
                      "&gcs=" + APMConsentSettingsUtil::consentSignals() + "&dma=1");
        EXPECT_EQ(world.engine()->persistedConfig()->deferredDeepLinkRetryCount(), attempt + 1);
    }
    EXPECT_EQ(world.monitorLines(23199).size(), 5u);
    EXPECT_FALSE(allowed());
    EXPECT_TRUE(world.reported(23195));
    EXPECT_TRUE(world.engine()->persistedConfig()->deferredDeepLinkRetrievalComplete());
    world.clearMonitorLines();
    EXPECT_FALSE(allowed());
    EXPECT_TRUE(world.reported(23194));
    EXPECT_FALSE(world.engine()->isNetworkRequestPending());
}

TEST_F(DeferredDeepLinkTest, TheAnswerIsParsedAndHandedOverOnce) {
    struct Case {
        testkit::Answer answer;
        std::vector<int64_t> codes;  // lines written
        bool complete;               // retrieval marked complete
    };
    const Case cases[] = {
        {testkit::Answer::json(200,
                               R"({"deeplink":"tavix://open?gclid=G","gclid":"G","timestamp":5})"),
         {23200, 23203, 23204},
         true},
        {testkit::Answer::text(200, ""), {23201}, true},
        {testkit::Answer::text(200, "{not json"),
         {23202},
         true},  // kept: an unparsable answer still completes
        {testkit::Answer::json(200, R"({"deeplink":"not an address"})"), {}, true},
        {testkit::Answer::json(200, R"({"deeplink":5})"), {}, true},
        {testkit::Answer::json(204, ""), {23201}, true},
        {testkit::Answer::json(404, R"({"deeplink":"tavix://x"})"), {23199}, false},
        {testkit::Answer::close(), {23199}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.status);
        world.engine()->persistedConfig()->setDeferredDeepLinkRetrievalComplete(Value());
        world.clearMonitorLines();
        world.services.on("GET", APMMeasurement::kDeferredDeepLinkPath, c.answer);
        request();
        for (int64_t code : c.codes) EXPECT_TRUE(world.reported(code)) << code;
        EXPECT_EQ(world.reported(23200), c.codes.size() == 3);
        EXPECT_EQ(
            world.engine()->persistedConfig()->deferredDeepLinkRetrievalComplete().has_value(),
            c.complete);
    }
    // The hand-over answers NO on this platform: no campaign event comes of it.
    EXPECT_TRUE(campaigns().empty());
}

TEST_F(DeferredDeepLinkTest, WithoutPermissionNothingIsAsked) {
    struct Case {
        const char* name;
        std::function<void()> change;
        std::function<void()> restore;
        int64_t code;  // 0: no line
    };
    const Dictionary info = platform::Bundle::main()->infoDictionary();
    const Case cases[] = {
        {"feature off",
         [this] {
             measurementtest::useSettings(world, {{"measurement.ddl.enabled", "0"}});
         },
         [this] { measurementtest::useSettings(world, {}); }, 23193},
        {"no Info key",
         [this] {
             world.env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}});
         },
         [this, info] { world.env.writeInfo(info); }, 0},
        {"ad storage denied",
         [] {
             APMAnalytics::setConsent(Dictionary{{"ad_storage", "denied"}});
         },
         [] {
             APMAnalytics::setConsent(Dictionary{{"ad_storage", "granted"}});
         },
         23252},
    };
    ASSERT_TRUE(allowed());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        world.settle();
        world.clearMonitorLines();
        EXPECT_FALSE(allowed());
        if (c.code != 0) {
            EXPECT_TRUE(world.reported(c.code));
        }
        EXPECT_FALSE(world.reported(23197));
        c.restore();
        world.settle();
        EXPECT_TRUE(allowed());
    }
    EXPECT_TRUE(requests().empty());
}

}  // namespace

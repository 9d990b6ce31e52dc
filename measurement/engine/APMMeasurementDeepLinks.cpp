// Deep links, campaigns, debug mode by address and the TCF consent data.
//
// Addresses come from outside: their query is read through the platform URL
// parser (or, for text it refuses, from the first "?" up to "#"), arguments
// are percent-decoded and a malformed escape stays as written. Nothing here
// raises; every failure is a monitor line.
#include <algorithm>
#include <mutex>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementUtil.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/features/APMTCFClient.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/app/Application.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/net/ServiceAddress.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/storage/Json.h"
#include "platform/text/PercentEncoding.h"
#include "platform/text/Regex.h"
#include "platform/text/Url.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

using platform::Dictionary;
using platform::Value;

// Address query key -> campaign event parameter.
const std::pair<const char*, const char*> kCampaignParameters[] = {
    {"aclid", "aclid"},
    {"anid", "anid"},
    {"utm_campaign", "campaign"},
    {"cis", "_cis"},
    {"utm_content", "content"},
    {"cp1", "cp1"},
    {"dclid", "dclid"},
    {"gad_source", "gad_source"},
    {"gclid", "gclid"},
    {"gbraid", "gbraid"},
    {"utm_medium", "medium"},
    {"utm_source", "source"},
    {"srsltid", "srsltid"},
    {"utm_term", "term"},
    {"utm_id", "campaign_id"},
    {"utm_creative_format", "creative_format"},
    {"utm_marketing_tactic", "marketing_tactic"},
    {"utm_source_platform", "source_platform"},
    {"sfmc_id", "sfmc_id"},
};

const char* const kRequiredCampaignKeys[] = {"utm_campaign", "gclid",   "utm_medium",
                                             "utm_source",   "gbraid",  "utm_id",
                                             "dclid",        "srsltid", "sfmc_id"};

const char* const kClickIDs[] = {"gclid", "dclid", "srsltid"};

constexpr const char* kGadPrefix = "gad_";
constexpr const char* kSearchHostPattern = R"(^(www\.)?zoruvu(\.com?)?(\.[a-z]{2}t?)?$)";
constexpr const char* kDeferredDeepLinkInfoKey = "ZORUVU_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED";

bool hasGadPrefix(const std::string& key) {
    return key.starts_with(kGadPrefix);
}

const char* campaignParameterName(const std::string& key) {
    for (const auto& [queryKey, name] : kCampaignParameters) {
        if (key == queryKey) return name;
    }
    return nullptr;
}

// The query of an address as written (percent-encoded).
std::string queryOfAddress(const std::string& address) {
    if (std::optional<platform::Url> url = platform::Url::parse(address)) {
        return url->percentEncodedQuery().value_or("");
    }
    const size_t question = address.find('?');
    if (question == std::string::npos) return "";
    const size_t hash = address.find('#', question + 1);
    return address.substr(question + 1,
                          hash == std::string::npos ? std::string::npos : hash - question - 1);
}

Dictionary queryArguments(const std::string& address) {
    return apm_dictionaryWithHttpArgumentsString(queryOfAddress(address), true);
}

bool isSearchHost(const std::string& host) {
    static const platform::Result<platform::Regex> pattern =
        platform::Regex::compile(kSearchHostPattern);
    if (!pattern) return false;
    platform::Result<std::optional<platform::RegexMatch>> match = pattern->firstMatch(host);
    return match && match->has_value();
}

// "gs" when the referrer's host is the search host, else "auto".
std::string campaignOrigin(const Dictionary& textExtras) {
    const Value* referrer = textExtras.find("_ref");
    if (referrer == nullptr || referrer->asString() == nullptr) return "auto";
    std::optional<platform::Url> url = platform::Url::parse(*referrer->asString());
    if (!url) return "auto";
    std::optional<std::string> host = url->host();
    return host && isSearchHost(*host) ? "gs" : "auto";
}

struct PreviewHeaders {
    std::mutex mutex;
    std::optional<Dictionary> headers;
};

PreviewHeaders& previewHeaders() {
    static auto* const shared = new PreviewHeaders();
    return *shared;
}

void setPreviewHeaders(std::optional<Dictionary> headers) {
    PreviewHeaders& shared = previewHeaders();
    std::lock_guard lock(shared.mutex);
    shared.headers = std::move(headers);
}

}  // namespace

// --- addresses handed in by the application -----------------------------------------------------

std::optional<std::string> APMMeasurement::deepLinkFromUserActivity(
    const platform::UserActivity& userActivity) {
    if (!platform::ClassRegistry::shared().exists(platform::ClassRegistry::kUserActivityClass)) {
        monitor()->logWithLevel(3, 23005, "NSUserActivity is not supported");
        return std::nullopt;
    }
    if (userActivity.activityType == platform::kUserActivityTypeBrowsingWeb &&
        userActivity.webpageURL && !userActivity.webpageURL->empty()) {
        return userActivity.webpageURL;
    }
    monitor()->logWithLevel(3, 23006, "User Activity does not have Deep Link. User Activity",
                            Value(userActivity.activityType));
    return std::nullopt;
}

void APMMeasurement::handleStoredURLAfterAppLaunchWithNotification(
    const platform::Notification& notification) {
    std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
    bool stored = false;
    if (const Value* activities =
            notification.userInfo.find(kLaunchOptionsUserActivityDictionaryKey)) {
        const std::optional<Dictionary> dictionary = activities->asDictionary();
        const Value* entry = dictionary ? dictionary->find(kLaunchOptionsUserActivityKey) : nullptr;
        std::shared_ptr<platform::UserActivity> activity =
            entry ? entry->asOpaque<platform::UserActivity>() : nullptr;
        if (!activity) {
            monitor()->logWithLevel(7, 23003, "User Activity is empty. User Activity");
        } else if (std::optional<std::string> link = deepLinkFromUserActivity(*activity);
                   link && !link->empty()) {
            APMStoreDeepLink(*preferences, *link,
                             activity->referrerURL ? Value(*activity->referrerURL) : Value());
            stored = true;
        }
    }
    if (const Value* url = notification.userInfo.find(kLaunchOptionsURLKey)) {
        const std::string* text = url->asString();
        if (text != nullptr && !text->empty()) {
            if (!stored) APMStoreDeepLink(*preferences, *text, Value());
            handleSZTMDebugModeWithURL(*text);
        }
    }
}

void APMMeasurement::handleSZTMDebugModeWithURL(const std::string& url) {
    const Dictionary arguments = queryArguments(url);
    const std::string enable = arguments.get("sztm_debug_enable").stringValue();
    if (enable == "1") {
        monitor()->setSZTMDebugModeEnabled(true);
        const std::string key = arguments.get("sztm_preview_key").stringValue();
        setPreviewHeaders(key.empty()
                              ? std::nullopt
                              : std::optional<Dictionary>(Dictionary{{kSZTMPreviewHeader, key}}));
    } else if (enable == "0") {
        monitor()->setSZTMDebugModeEnabled(false);
        setPreviewHeaders(std::nullopt);
    }
}

std::optional<Dictionary> APMMeasurement::SZTMPreviewHeaders() {
    PreviewHeaders& shared = previewHeaders();
    std::lock_guard lock(shared.mutex);
    if (!shared.headers) return std::nullopt;
    return shared.headers->copy();
}

void APMMeasurement::resetSZTMPreviewHeadersForTesting() {
    setPreviewHeaders(std::nullopt);
}

void APMMeasurement::handleNonFirstOpenEventURL(const std::string& url,
                                                double eventTimestampInSeconds,
                                                const std::optional<std::string>& referrerURL) {
    if (platform::currentQueueLabel() == kWorkerQueueLabel) {
        monitor()->logWithLevel(
            2, 23163, "Do not call handleNonFirstOpenOpenURL on the measurement worker queue");
        return;
    }
    handleOpenURL(url, std::nullopt, eventTimestampInSeconds, referrerURL);
}

void APMMeasurement::handleOpenURL(const std::string& url,
                                   std::optional<int64_t> clickTimestampInMs,
                                   double eventTimestampInSeconds,
                                   const std::optional<std::string>& referrerURL) {
    if (url.empty()) return;
    handleDebugModeWithURL(url);
    handleDeepLink(url, clickTimestampInMs, eventTimestampInSeconds, referrerURL);
}

void APMMeasurement::handleDeepLink(const std::string& url,
                                    std::optional<int64_t> clickTimestampInMs,
                                    double eventTimestampInSeconds,
                                    const std::optional<std::string>& referrerURL) {
    Dictionary extras;
    if (referrerURL && !referrerURL->empty()) extras.set("_ref", *referrerURL);
    scheduleOnWorkerQueue("APMMeasurement:549", [url, clickTimestampInMs, eventTimestampInSeconds,
                                                 extras](APMMeasurement& engine) {
        engine.handleOpenURLOnWorkerQueue(url, clickTimestampInMs, eventTimestampInSeconds, extras);
    });
}

void APMMeasurement::handleDebugModeWithURL(const std::string&) {}

bool APMMeasurement::isValidCampaignURLParamDictionary(const Dictionary& parameters) {
    for (const auto& [key, value] : parameters) {
        if (hasGadPrefix(key)) return true;
    }
    for (const char* key : kRequiredCampaignKeys) {
        const Value* value = parameters.find(key);
        if (value != nullptr && !value->stringValue().empty()) return true;
    }
    return false;
}

bool APMMeasurement::shouldAllowClickID() {
    return true;
}

// --- the campaign event -------------------------------------------------------------------------

void APMMeasurement::handleOpenURLOnWorkerQueue(const std::string& url,
                                                std::optional<int64_t> clickTimestampInMs,
                                                double eventTimestampInSeconds,
                                                const Dictionary& extraParameters) {
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        "handleOpenURLOnWorkerQueue:clickTimestampInMs:eventTimestampInSeconds:extraParameters:");
    std::shared_ptr<APMMonitor> log = monitor();
    Dictionary textExtras;
    Dictionary numberExtras;
    for (const auto& [key, value] : extraParameters) {
        if (value.isString()) {
            textExtras.set(key, value);
        } else if (value.isNumeric()) {
            numberExtras.set(key, value);
        }
    }

    Dictionary arguments = textExtras.copy();
    for (const auto& [key, value] : queryArguments(url)) arguments.set(key, value);
    if (arguments.empty()) {
        log->logWithLevel(7, 23000, "Deep Link Web URL query is empty");
        return;
    }
    if (!isValidCampaignURLParamDictionary(arguments)) {
        log->logWithLevel(3, 23001, "Deep Link does not contain valid required params. URL params",
                          Value(arguments));
        return;
    }

    Dictionary parameters;
    for (const auto& [key, value] : arguments) {
        const std::string text = value.stringValue();
        if (text.empty()) continue;
        if (hasGadPrefix(key)) {
            parameters.set(key, text);
        } else if (const char* name = campaignParameterName(key)) {
            parameters.set(name, text);
        }
    }
    if (!shouldAllowClickID()) {
        for (const char* clickID : kClickIDs) parameters.remove(clickID);
    }
    for (const auto& [key, value] : numberExtras) parameters.set(key, value);
    if (clickTimestampInMs) parameters.set("click_timestamp", *clickTimestampInMs);

    const Value* cc = numberExtras.find("_cc");
    const std::string name = cc != nullptr && cc->doubleValue() == 1 ? "_cmpx" : "_cmp";
    const std::string origin = campaignOrigin(textExtras);
    const double firstOpenSeconds =
        static_cast<double>(m_persistedConfig->firstOpenTimestampMilliseconds() / 1000);
    const double timestamp = std::max(eventTimestampInSeconds, firstOpenSeconds);

    // The click data of this campaign replaces the stored one.
    auto clickText = [&parameters](const char* key) -> std::optional<std::string> {
        const Value* value = parameters.find(key);
        return value != nullptr && value->isString()
                   ? std::optional<std::string>(value->stringValue())
                   : std::nullopt;
    };
    std::vector<std::pair<std::string, std::string>> gadEntries;
    for (const auto& [key, value] : parameters) {
        if (hasGadPrefix(key) && value.isString() && !value.stringValue().empty()) {
            gadEntries.emplace_back(key, value.stringValue());
        }
    }
    if (clickText("gclid") || clickText("gbraid") || !gadEntries.empty()) {
        std::shared_ptr<APMPBAdCampaignInfo> info =
            APMPBAdCampaignInfo::initWithMessageInfo(nullptr);
        APMPBSetString(info.get(), APMPBAdCampaignInfoSlot::kGclid, clickText("gclid"));
        APMPBSetString(info.get(), APMPBAdCampaignInfoSlot::kGbraid, clickText("gbraid"));
        APMPBSetString(info.get(), APMPBAdCampaignInfoSlot::kGadSource, clickText("gad_source"));
        APMPBSetInt64(info.get(), APMPBAdCampaignInfoSlot::kTimestamp,
                      APMMillisecondsFromSeconds(timestamp));
        for (const auto& [key, value] : gadEntries) {
            if (std::optional<APMPBMessageView> entry =
                    APMPBAppendMessage(info.get(), APMPBAdCampaignInfoSlot::kDeepLinkGadParams)) {
                APMPBSetString(&*entry, APMPBDeepLinkGadParamsEntrySlot::kKey, key);
                APMPBSetString(&*entry, APMPBDeepLinkGadParamsEntrySlot::kValue, value);
            }
        }
        if (std::optional<platform::Bytes> bytes = info->protoBuffer()) {
            m_persistedConfig->setAdCampaignInfoBuffer(Value::data(std::move(*bytes)));
        }
    }

    // The internal-event path notifies the event listeners: once is enough.
    handleInternalEventOnWorkerQueue(
        APMEvent::initWithOrigin(origin, false, name, timestamp, 0, parameters));
}

// --- the deferred deep link ---------------------------------------------------------------------

bool APMMeasurement::shouldAllowRequestDeferredDeepLink() {
    std::shared_ptr<APMMonitor> log = monitor();
    std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
    if (!settings) settings = APMRemoteConfig::defaultInstance();
    if (!settings->isDeferredDeepLinkEnabled()) {
        log->logWithLevel(5, 23193, "Deferred Deep Link feature disabled");
        return false;
    }
    const Dictionary info = ZULBundleAccess::infoDictionary();
    const Value* enabled = info.find(kDeferredDeepLinkInfoKey);
    if (enabled == nullptr || !enabled->isNumeric() || !enabled->boolValue()) return false;
    if (m_persistedConfig->deferredDeepLinkRetrievalComplete()) {
        log->logWithLevel(7, 23194, "Already retrieved Deferred Deep Link. Skipping");
        return false;
    }
    if (m_persistedConfig->deferredDeepLinkRetryCount() >=
        settings->maxDeferredDeepLinkRetryCount()) {
        log->logWithLevel(3, 23195, "Failed to retrieve Deferred Deep Link. Reached retry limit");
        m_persistedConfig->setDeferredDeepLinkRetrievalComplete(Value(1));
        return false;
    }
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        log->logWithLevel(3, 23252,
                          "IDFA unavailable to retrieve Deferred Deep Link due to denied ad "
                          "storage consent. Skipping");
        return false;
    }
    std::shared_ptr<APMIdentity> identity = this->identity();
    if (identity && identity->hasLimitedAdTracking() && !identity->limitedAdTracking()) {
        log->logWithLevel(7, 23197, "Deferred Deep Link feature enabled");
        return true;
    }
    log->logWithLevel(3, 23196, "IDFA unavailable to retrieve Deferred Deep Link. Skipping");
    return false;
}

std::optional<std::string> APMMeasurement::deferredDeepLinkURL() {
    std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
    if (!settings) settings = APMRemoteConfig::defaultInstance();
    std::shared_ptr<APMIdentity> identity = this->identity();
    const std::string advertisingID = identity ? identity->resettableDeviceID().value_or("") : "";
    auto encode = [](const std::string& text) {
        return platform::PercentEncoding::encodeFormComponent(text);
    };

    std::string query =
        "sdk_version=" + std::to_string(APMEngineServices::kMeasurementLibraryVersion) +
        "&rdid=" + encode(advertisingID) +
        "&id_type=idfa&bundleid=" + encode(ZULBundleAccess::bundleIdentifier()) +
        "&retry=" + std::to_string(m_persistedConfig->deferredDeepLinkRetryCount());
    if (!APMEngineServices::isFromAppStore() &&
        platform::Application::shared()->hasLaunchArgument("-DebugDeferredDeepLink")) {
        query += "&ddl_test=1";
    }
    const std::string signals = APMConsentSettingsUtil::consentSignals();
    if (!signals.empty()) query += "&gcs=" + encode(signals);
    const bool dmaRegion = settings->isDMARegion();
    query += std::string("&dma=") + (dmaRegion ? "1" : "0");
    if (APMConsentSettingsUtil::isAdUserDataDenied()) {
        query += "&dma_cps=-";
    } else if (dmaRegion) {
        // A std::set: already sorted.
        std::string services;
        for (const std::string& service : settings->corePlatformServices()) services += service;
        if (!services.empty()) query += "&dma_cps=" + encode(services);
    }
    if (std::optional<int64_t> personalization = APMConsentSettingsUtil::adPersonalization()) {
        query += std::string("&npa=") + (*personalization == 1 ? "0" : "1");
    }
    const std::string address =
        platform::ServiceAddress::resolve(std::string(kDeferredDeepLinkServiceURL) +
                                          kDeferredDeepLinkPath) +
        "?" + query;
    std::optional<platform::Url> url = platform::Url::parse(address);
    if (!url || !url->hasSchemeAndHost()) return std::nullopt;
    return address;
}

void APMMeasurement::requestDeferredDeepLink() {
    std::optional<std::string> url = deferredDeepLinkURL();
    if (!url) {
        monitor()->logWithLevel(3, 23198, "URL to retrieve Deferred Deep Link is invalid");
        return;
    }
    if (!m_network) return;
    std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
    setIsNetworkRequestPending(true);
    m_network->setTimeoutInterval(settings ? settings->networkTimeout()
                                           : APMRemoteConfig::defaultInstance()->networkTimeout());
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    m_network->getURL(
        *url, std::nullopt, m_scheduler->workerQueue(), false,
        [weak](std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
               std::optional<platform::Error> error) {
            std::shared_ptr<APMMeasurement> engine = weak.lock();
            if (!engine) return;
            engine->setIsNetworkRequestPending(false);
            const int status = response ? response->statusCode() : 0;
            if (!error && (status == 200 || status == 204 || status == 304)) {
                engine->m_persistedConfig->setDeferredDeepLinkRetrievalComplete(Value(0));
                std::optional<Dictionary> info =
                    deepLinkInfoFromResponseData(data.value_or(platform::Bytes()));
                if (info && !info->empty()) {
                    monitor()->logWithLevel(7, 23200, "Successfully retrieved Deferred Deep Link");
                    engine->handleDeferredDeepLinkInfo(*info);
                } else {
                    engine->updateSchedule();
                }
                return;
            }
            monitor()->logWithLevel(
                1, 23199,
                "Failed to retrieve Deferred Deep Link. Will retry on next launch. Code, error",
                Value(status), error ? APMLogContext(*error) : APMLogContext());
            engine->m_persistedConfig->setDeferredDeepLinkRetryCount(
                engine->m_persistedConfig->deferredDeepLinkRetryCount() + 1);
            engine->updateSchedule();
        });
}

std::optional<Dictionary> APMMeasurement::deepLinkInfoFromResponseData(
    const platform::Bytes& data) {
    if (data.empty()) {
        monitor()->logWithLevel(8, 23201, "Deferred Deep Link response is empty");
        return std::nullopt;
    }
    platform::Result<Value> parsed = platform::Json::parse(data);
    if (!parsed) {
        monitor()->logWithLevel(1, 23202, "Failed to parse Deferred Deep Link from JSON. Error",
                                parsed.error());
        return std::nullopt;
    }
    const std::optional<Dictionary> info = parsed->asDictionary();
    if (!info || info->empty()) return std::nullopt;
    const Value* link = info->find("deeplink");
    if (link == nullptr || link->asString() == nullptr || !platform::Url::parse(*link->asString()))
        return std::nullopt;
    return info->copy();
}

void APMMeasurement::handleDeferredDeepLinkInfo(const Dictionary& info) {
    const std::string url = info.get("deeplink").stringValue();
    Dictionary parameters{{"cis", "ddp"}};
    for (const char* key : {"gclid", "gbraid"}) {
        if (const Value* value = info.find(key)) parameters.set(key, *value);
    }
    Dictionary extraInfo;
    if (const Value* timestamp = info.find("timestamp")) extraInfo.set("timestamp", *timestamp);
    monitor()->logWithLevel(8, 23203, "Sending Deferred Deep Link to app delegate");
    const double now = platform::Clock::current()->now();
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    platform::mainQueue().async([weak, url, extraInfo, parameters, now] {
        if (!sendDeepLinkURLToAppDelegateOnMainThread(url, extraInfo)) {
            monitor()->logWithLevel(
                3, 23204, "App delegate not configured to handle Deferred Deep Link", Value(url));
            return;
        }
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            engine->scheduleOnWorkerQueue(
                "APMMeasurement:443", [url, now, parameters](APMMeasurement& self) {
                    self.handleOpenURLOnWorkerQueue(url, std::nullopt, now, parameters);
                });
        }
    });
}

bool APMMeasurement::sendDeepLinkURLToAppDelegateOnMainThread(const std::string&,
                                                              const Dictionary&) {
    return false;
}

// --- TCF consent data ---------------------------------------------------------------------------

void APMMeasurement::startTCFClientOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("startTCFClientOnWorkerQueue");
    m_tcfClient =
        std::make_shared<APMTCFClient>([](const Dictionary& consent, const std::string& key) {
            APMAnalytics::setConsentForKey(consent, key);
        });
    tcfClientSetConsentFromData();
}

void APMMeasurement::tcfClientSetConsentFromData() {
    if (!m_tcfClient) return;
    std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
    if (settings) m_tcfClient->setIsDMARegion(settings->isDMARegion());
    m_tcfClient->setConsentFromTCFData();
}

void APMMeasurement::tcfClientSetIsDMARegion(bool isDMARegion) {
    if (m_tcfClient) m_tcfClient->setIsDMARegion(isDMARegion);
}

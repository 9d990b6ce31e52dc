// Campaign, TCF and experiment subcommands of the analytics session: the
// launch address, opened addresses and activities, the stored ad campaign
// info, the sZTM preview headers, the TCF values and their persisted copy, and
// the experiment manager's flag look-up.
#include <string>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/ROZAdavurudo.h"
#include "measurement/features/APMTCFClient.h"
#include "measurement/features/experiments/APMEManager.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBSlots.h"
#include "platform/app/UserActivity.h"
#include "testing/probes/sdk/AnalyticsSession.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Dictionary;
using platform::Value;

AnalyticsSession& session() {
    return AnalyticsSession::shared();
}

int badArgument(const std::string& message) {
    result("error: " + message);
    return 2;
}

int refuseAfterStart(const std::string& name) {
    if (!session().isStarted()) return 0;
    return badArgument(name + " must come before analytics-start");
}

int settled(const std::string& line) {
    if (!session().settle()) return 1;
    result(line);
    return 0;
}

// "campaign gclid=... gbraid=... gad_source=... ts=MS gad=KEY:VALUE,...", present fields only.
std::string campaignLine(const platform::Bytes& buffer) {
    std::shared_ptr<APMPBAdCampaignInfo> info = APMPBAdCampaignInfo::initWithBuffer(buffer);
    if (!info) return "campaign undecodable";
    std::string line = "campaign";
    const std::pair<const char*, int32_t> texts[] = {
        {"gclid", APMPBAdCampaignInfoSlot::kGclid},
        {"gbraid", APMPBAdCampaignInfoSlot::kGbraid},
        {"gad_source", APMPBAdCampaignInfoSlot::kGadSource}};
    for (const auto& [name, slot] : texts) {
        if (APMPBHasField(info.get(), slot))
            line += std::string(" ") + name + "=" + APMPBGetString(info.get(), slot).value_or("");
    }
    if (APMPBHasField(info.get(), APMPBAdCampaignInfoSlot::kTimestamp)) {
        line +=
            " ts=" + std::to_string(APMPBGetInt64(info.get(), APMPBAdCampaignInfoSlot::kTimestamp));
    }
    std::string gad;
    for (APMPBMessageView& entry :
         APMPBGetMessageViews(info.get(), APMPBAdCampaignInfoSlot::kDeepLinkGadParams)) {
        if (!gad.empty()) gad += ",";
        gad += APMPBGetString(&entry, APMPBDeepLinkGadParamsEntrySlot::kKey).value_or("") + ":" +
               APMPBGetString(&entry, APMPBDeepLinkGadParamsEntrySlot::kValue).value_or("");
    }
    if (!gad.empty()) line += " gad=" + gad;
    return line;
}

}  // namespace

std::vector<Subcommand> campaignSubcommands() {
    return {
        {"launch-url", 1, "launch-url URL",
         [](const std::vector<std::string>& arguments) {
             if (int refused = refuseAfterStart("launch-url")) return refused;
             session().setLaunchOptions(
                 Dictionary{{APMMeasurement::kLaunchOptionsURLKey, arguments[0]}});
             result("launch url " + arguments[0]);
             return 0;
         }},
        {"open-url", 1, "open-url URL",
         [](const std::vector<std::string>& arguments) {
             if (int refused = session().requireStarted()) return refused;
             ROZAdavurudo::handleOpenURL(arguments[0]);
             return settled("opened");
         }},
        {"open-activity", 2, "open-activity URL REFERRER",
         [](const std::vector<std::string>& arguments) {
             if (int refused = session().requireStarted()) return refused;
             platform::UserActivity activity{
                 platform::kUserActivityTypeBrowsingWeb, arguments[0],
                 arguments[1] == "-" ? std::nullopt : std::optional(arguments[1])};
             ROZAdavurudo::handleUserActivity(activity);
             return settled("opened");
         }},
        {"campaign-info", 0, "campaign-info",
         [](const std::vector<std::string>&) {
             if (int refused = session().requireStarted()) return refused;
             if (!session().settle()) return 1;
             std::optional<Value> buffer;
             session().onWorkerQueue([&buffer](APMMeasurement& engine) {
                 buffer = engine.persistedConfig()->adCampaignInfoBuffer();
             });
             const platform::Bytes* bytes = buffer ? buffer->asData() : nullptr;
             result(bytes != nullptr ? campaignLine(*bytes) : "campaign none");
             return 0;
         }},
        {"sztm-headers", 0, "sztm-headers",
         [](const std::vector<std::string>&) {
             std::optional<Dictionary> headers = APMEngineServices::SZTMPreviewHeaders();
             const Value* key =
                 headers ? headers->find(APMMeasurement::kSZTMPreviewHeader) : nullptr;
             result(key != nullptr ? std::string("sztm ") + APMMeasurement::kSZTMPreviewHeader +
                                         "=" + key->stringValue()
                                   : "sztm none");
             return 0;
         }},
        {"tcf-set", 1, "tcf-set JSON",
         [](const std::vector<std::string>& arguments) {
             if (int refused = refuseAfterStart("tcf-set")) return refused;
             std::string error;
             std::optional<Value> json = parseJsonArgument(arguments[0], error);
             if (!json) return badArgument(error);
             const std::optional<Dictionary> values = json->asDictionary();
             if (!values) return badArgument("JSON must be an object");
             std::shared_ptr<APMUserDefaults> defaults = APMUserDefaults::sharedUserDefaults();
             for (const auto& [key, value] : *values) {
                 if (!value.isString() && !value.isNumber())
                     return badArgument(key + " must be a string or an integer");
                 // Whole numbers are stored as integers, as a consent tool writes them.
                 defaults->setObject(value.isNumber() ? Value(value.longLongValue()) : value, key);
             }
             result("tcf set " + std::to_string(values->size()));
             return 0;
         }},
        {"tcf-stored", 0, "tcf-stored",
         [](const std::vector<std::string>&) {
             if (session().isStarted() && !session().settle()) return 1;
             std::optional<std::string> stored =
                 APMUserDefaults(APMTCFClient::kSuiteName)
                     .stringForKey(APMTCFClient::kStringRepresentationKey);
             result(stored ? "tcf " + *stored : "tcf none");
             return 0;
         }},
        {"exp-flag", 2, "exp-flag SDK FLAG",
         [](const std::vector<std::string>& arguments) {
             if (int refused = session().requireStarted()) return refused;
             if (!session().settle()) return 1;
             std::optional<Value> value =
                 APMEManager::sharedInstance()->flagValueForFlagName(arguments[1], arguments[0]);
             if (!value) {
                 result("nil");
             } else {
                 result(value->isString() || value->isNumeric() ? value->stringValue()
                                                                : compactJson(*value));
             }
             return 0;
         }},
    };
}

}  // namespace sdkprobe

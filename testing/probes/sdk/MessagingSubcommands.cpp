// sdk-probe messaging subcommands (services reached through APP_SERVICES_URL
// when set):
//
//   checkin [--force] [--device-token-hex HEX]
//       checks the device in (an answer held and still valid is used as
//       is): "=> ok DEVICE_ID" or "=> error DOMAIN CODE". --force forgets
//       the stored check-in first, so that a new device checks in. The
//       check-in request carries no device token: HEX is only checked, so
//       that one command line can drive check-in and token alike.
//   checkin-stored
//       "=> keychain=" and the stored check-in item's text, then "=> KEY=VALUE"
//       for each entry of the check-in property list, sorted by key
//       (dictionaries as compact JSON).
//   token [--delete] [--sender S] [--device-token-hex HEX]
//       fetches (or deletes) the registration token of sender S (default:
//       the options' sender ID, scope "*") through the token manager, with
//       HEX as the push token: "=> token=TOKEN" ("=> token=" after a
//       delete) or "=> error CODE REASON".
//   pending-topics
//       "=> ACTION TOPIC..." for each pending topic batch as stored, oldest
//       first (ACTION subscribe or unsubscribe).
//   subscribe TOPIC, unsubscribe TOPIC
//       through the messaging front as an application does, after the
//       platform handed the application its push token (a fixed one here):
//       "=> ok" or "=> error CODE REASON".
//   message-receive --user-info JSON
//       hands the payload to the messaging front as an incoming message:
//       "=> status=N".
//   delivery-metrics --user-info JSON [--bundle-id ID]
//       exports delivery metrics for the payload through the event transport
//       (ID in place of the bundle identifier): "=> " and the hex of the
//       logged event's payload once the transport stored it, or
//       "=> error not sent" (the log says why).
//   messaging-start
//       configures the SDK as the application does: "=> PATH" for each file
//       and folder of messaging under Application Support, sorted.
//
// The SDK is configured from the bundle's options file first, as the
// application does, where a subcommand needs the default app. Each
// subcommand pumps the main queue until its answer came.
#include <algorithm>
#include <atomic>
#include <functional>
#include <utility>
#include <vector>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/MainQueue.h"
#include "platform/keychain/Keychain.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/storage/Json.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "platform/values/Error.h"
#include "platform/crypto/Digest.h"
#include "sdk/messaging/RIRMessaging.h"
#include "sdk/messaging/RIRMessagingAuthKeychain.h"
#include "sdk/messaging/RIRMessagingAuthService.h"
#include "sdk/messaging/RIRMessagingCheckinStore.h"
#include "sdk/messaging/RIRMessagingExtensionHelper.h"
#include "sdk/messaging/RIRMessagingRmqManager.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/messaging/RIRMessagingPendingTopicsList.h"
#include "sdk/messaging/RIRMessagingPubSub.h"
#include "sdk/messaging/RIRMessagingTokenManager.h"
#include "sdk/core/RIRApp.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/utilities/ZULUserDefaults.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

constexpr double kTimeout = 120;

// A subcommand's optional flags: name and the number of values after it.
using Flags = std::vector<std::pair<std::string, int>>;

// Counts the words a subcommand takes: its fixed arguments, then any of its
// flags with their values, in any order.
std::function<size_t(const std::vector<std::string>&)> countWithFlags(size_t fixed, Flags flags) {
  return [fixed, flags](const std::vector<std::string>& following) {
    size_t count = fixed;
    bool taken = true;
    while (taken && count < following.size()) {
      taken = false;
      for (const auto& [name, values] : flags) {
        if (following[count] != name) continue;
        count += 1 + static_cast<size_t>(values);
        taken = true;
        break;
      }
    }
    return count;
  };
}

std::optional<std::string> flagValue(const std::vector<std::string>& arguments, const std::string& flag) {
  for (size_t index = 0; index + 1 < arguments.size(); ++index) {
    if (arguments[index] == flag) return arguments[index + 1];
  }
  return std::nullopt;
}

bool hasFlag(const std::vector<std::string>& arguments, const std::string& flag) {
  return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

bool wait(const std::function<bool()>& done) {
  if (platform::MainQueue::runUntil(done, kTimeout)) return true;
  result("error timeout");
  return false;
}

int printError(const platform::Error& error) {
  result("error " + error.domain + " " + std::to_string(error.code));
  return 1;
}

bool isHex(const std::string& text) {
  return !text.empty() && text.size() % 2 == 0 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// "error CODE REASON" on one line.
int printCodeAndReason(const platform::Error& error) {
  std::string reason;
  for (char c : error.failureReason().value_or(error.localizedDescription())) {
    reason += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  result("error " + std::to_string(error.code) + " " + reason);
  return 1;
}

std::optional<platform::Bytes> hexBytes(const std::string& hex) {
  if (!isHex(hex)) return std::nullopt;
  platform::Bytes bytes;
  for (size_t index = 0; index < hex.size(); index += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(index, 2), nullptr, 16)));
  }
  return bytes;
}

void configureSDK() {
  if (!RIRApp::isDefaultAppConfigured()) RIRApp::configure();
}

// The folders the messaging component creates at start-up.
void createMessagingFolders() {
  for (const char* folder : {"Zoruvu/RirivuduMessaging", kRIRMessagingInstanceIDSubDirectory}) {
    platform::fs::createDirectory(platform::fs::joinPath(platform::StandardFolders::applicationSupport(), folder), true);
  }
}

std::string valueText(const platform::Value& value) {
  if (const std::string* text = value.asString()) return *text;
  if (value.isDictionary() || value.isArray()) {
    platform::JsonWriteOptions options;
    options.sortedKeys = true;
    platform::Result<std::string> json = platform::Json::serialize(value, options);
    if (json) return json.value();
  }
  return value.stringValue();
}

int checkin(const std::vector<std::string>& arguments) {
  if (std::optional<std::string> hex = flagValue(arguments, "--device-token-hex"); hex && !isHex(*hex)) {
    result("error: --device-token-hex needs an even number of hex digits");
    return 2;
  }
  createMessagingFolders();
  std::shared_ptr<RIRMessagingAuthService> auth = RIRMessagingAuthService::create();
  if (hasFlag(arguments, "--force")) {
    std::atomic<bool> reset{false};
    std::optional<platform::Error> resetError;
    auth->resetCheckinWithHandler([&](std::optional<platform::Error> error) {
      resetError = std::move(error);
      reset = true;
    });
    if (!wait([&] { return reset.load(); })) return 1;
    if (resetError) return printError(*resetError);
  }
  std::atomic<bool> done{false};
  std::shared_ptr<RIRMessagingCheckinPreferences> checkin;
  std::optional<platform::Error> failure;
  auth->fetchCheckinInfoWithHandler(
      [&](std::shared_ptr<RIRMessagingCheckinPreferences> value, std::optional<platform::Error> error) {
        checkin = std::move(value);
        failure = std::move(error);
        done = true;
      });
  if (!wait([&] { return done.load(); })) return 1;
  platform::MainQueue::runUntilIdle(kTimeout);
  if (failure) return printError(*failure);
  if (!checkin) return printError(platform::Error("sdk-probe", 1));
  result("ok " + checkin->deviceID());
  return 0;
}

int checkinStored(const std::vector<std::string>&) {
  platform::KeychainQuery query = RIRMessagingAuthKeychain::keychainQueryForService(
      kRIRMessagingCheckinKeychainService, RIRMessagingCheckinStore::bundleIdentifierForKeychainAccount(),
      kRIRMessagingCheckinKeychainGeneric);
  query.returnData = true;
  query.matchLimitOne = true;
  platform::KeychainReadResult item = platform::Keychain::shared()->copyMatching(query);
  result("keychain=" + (item.data ? std::string(item.data->begin(), item.data->end()) : std::string()));

  RIRMessagingBackupExcludedPlist plist(kRIRMessagingCheckinFileName, kRIRMessagingInstanceIDSubDirectory);
  std::optional<platform::Dictionary> contents = plist.contentAsDictionary();
  if (!contents) return 0;
  std::vector<std::string> keys = contents->keys();
  std::sort(keys.begin(), keys.end());
  for (const std::string& key : keys) result(key + "=" + valueText(contents->get(key)));
  return 0;
}

// The messaging component's token manager: configure starts messaging.
std::shared_ptr<RIRMessagingTokenManager> tokenManager() {
  configureSDK();
  return RIRMessaging::messaging()->tokenManager();
}

// The push token the probe's "platform" hands the application.
const platform::Bytes kProbeDeviceToken = {0x70, 0x72, 0x6f, 0x62, 0x65, 0x2d, 0x61, 0x70,
                                           0x6e, 0x73, 0x2d, 0x74, 0x6f, 0x6b, 0x65, 0x6e};

int changeTopic(const std::string& topic, bool subscribe) {
  configureSDK();
  std::shared_ptr<RIRMessaging> messaging = RIRMessaging::messaging();
  messaging->setAPNSToken(kProbeDeviceToken);
  std::atomic<bool> done{false};
  std::optional<platform::Error> failure;
  auto completion = [&](std::optional<platform::Error> error) {
    failure = std::move(error);
    done = true;
  };
  if (subscribe) {
    messaging->subscribeToTopic(topic, completion);
  } else {
    messaging->unsubscribeFromTopic(topic, completion);
  }
  if (!wait([&] { return done.load(); })) return 1;
  platform::MainQueue::runUntilIdle(kTimeout);
  if (failure) return printCodeAndReason(*failure);
  result("ok");
  return 0;
}

// The --user-info payload, or none after printing why.
std::optional<platform::Dictionary> userInfo(const std::vector<std::string>& arguments) {
  std::optional<std::string> json = flagValue(arguments, "--user-info");
  platform::Result<platform::Value> parsed = platform::Json::parse(json.value_or(""));
  if (!json || !parsed || !parsed.value().isDictionary()) {
    result("error: --user-info needs a JSON object");
    return std::nullopt;
  }
  return parsed.value().asDictionary();
}

int messageReceive(const std::vector<std::string>& arguments) {
  std::optional<platform::Dictionary> payload = userInfo(arguments);
  if (!payload) return 2;
  configureSDK();
  std::shared_ptr<RIRMessaging> messaging = RIRMessaging::messaging();
  RIRMessagingMessageInfo info = messaging->appDidReceiveMessage(*payload);
  if (auto store = messaging->rmq2Manager()) store->waitForQueuedWork();
  result("status=" + std::to_string(info.status));
  return 0;
}

int deliveryMetrics(const std::vector<std::string>& arguments) {
  std::optional<platform::Dictionary> payload = userInfo(arguments);
  if (!payload) return 2;
  std::atomic<bool> stored{false};
  auto event = RIRMessaging::extensionHelper()->exportDeliveryMetricsToWarehouseWithMessageInfo(
      *payload, flagValue(arguments, "--bundle-id"), [&](bool, std::optional<platform::Error>) { stored = true; });
  if (!event || !event->serializedDataObjectBytes()) {
    result("error not sent");
    return 1;
  }
  if (!wait([&] { return stored.load(); })) return 1;
  result(platform::Digest::hex(*event->serializedDataObjectBytes()));
  return 0;
}

int messagingStart(const std::vector<std::string>&) {
  configureSDK();
  if (auto store = RIRMessaging::messaging()->rmq2Manager()) store->waitForQueuedWork();
  const std::string root = platform::StandardFolders::applicationSupport();
  std::vector<std::string> paths;
  for (const char* folder : {kRIRMessagingDirectory, kRIRMessagingInstanceIDDirectory}) {
    const std::string path = platform::fs::joinPath(root, folder);
    if (!platform::fs::exists(path)) continue;
    paths.push_back(folder);
    platform::fs::walk(path, [&](const platform::fs::WalkEntry& entry) {
      if (entry.path != path) paths.push_back(entry.path.substr(root.size() + 1));
    });
  }
  std::sort(paths.begin(), paths.end());
  for (const std::string& path : paths) result(path);
  return 0;
}

int token(const std::vector<std::string>& arguments) {
  std::optional<platform::Bytes> deviceToken;
  if (std::optional<std::string> hex = flagValue(arguments, "--device-token-hex")) {
    deviceToken = hexBytes(*hex);
    if (!deviceToken) {
      result("error: --device-token-hex needs an even number of hex digits");
      return 2;
    }
  }
  std::shared_ptr<RIRMessagingTokenManager> manager = tokenManager();
  const std::string sender = flagValue(arguments, "--sender").value_or(manager->rcmSenderID());
  std::atomic<bool> done{false};
  std::optional<std::string> value;
  std::optional<platform::Error> failure;
  if (hasFlag(arguments, "--delete")) {
    std::optional<std::string> fid;
    std::atomic<bool> identified{false};
    RIRInstallations::installations()->installationIDWithCompletion(
        [&](std::optional<std::string> identifier, std::optional<platform::Error> error) {
          fid = std::move(identifier);
          failure = std::move(error);
          identified = true;
        });
    if (!wait([&] { return identified.load(); })) return 1;
    if (failure) return printCodeAndReason(*failure);
    manager->deleteTokenWithAuthorizedEntity(sender, kRIRMessagingDefaultTokenScope, fid,
                                             [&](std::optional<platform::Error> error) {
                                               failure = std::move(error);
                                               done = true;
                                             });
  } else {
    platform::Dictionary options;
    if (deviceToken) options.set(kRIRMessagingTokenOptionsAPNSKey, platform::Value::data(*deviceToken));
    manager->tokenWithAuthorizedEntity(sender, kRIRMessagingDefaultTokenScope, options,
                                       [&](std::optional<std::string> token, std::optional<platform::Error> error) {
                                         value = std::move(token);
                                         failure = std::move(error);
                                         done = true;
                                       });
  }
  if (!wait([&] { return done.load(); })) return 1;
  platform::MainQueue::runUntilIdle(kTimeout);
  RBLPromiseWaitUntilIdle(kTimeout);
  if (failure) return printCodeAndReason(*failure);
  result("token=" + value.value_or(""));
  return 0;
}

int pendingTopics(const std::vector<std::string>&) {
  RIRMessagingPendingTopicsList::registerClasses();
  std::optional<platform::Value> stored =
      ZULUserDefaults::standardUserDefaults()->objectForKey(kRIRMessagingPendingSubscriptionsKey);
  if (!stored || !stored->isData()) return 0;
  platform::Result<platform::Value> root =
      platform::KeyedUnarchiver::unarchivedObject(RIRMessagingPendingTopicsList::archiveClasses(), *stored->asData());
  auto list = root ? std::dynamic_pointer_cast<RIRMessagingPendingTopicsList>(platform::KeyedArchiver::unwrap(root.value()))
                   : nullptr;
  if (!list) {
    result("error: the stored pending topics cannot be read");
    return 1;
  }
  for (const auto& [action, topics] : list->batchSnapshot()) {
    std::string line = action == RIRMessagingTopicActionUnsubscribe ? "unsubscribe" : "subscribe";
    for (const std::string& topic : topics) line += " " + topic;
    result(line);
  }
  return 0;
}

}  // namespace

std::vector<Subcommand> messagingSubcommands() {
  return {
      {"checkin", 0, "checkin [--force] [--device-token-hex HEX]", checkin,
       countWithFlags(0, {{"--force", 0}, {"--device-token-hex", 1}})},
      {"checkin-stored", 0, "checkin-stored", checkinStored},
      {"token", 0, "token [--delete] [--sender S] [--device-token-hex HEX]", token,
       countWithFlags(0, {{"--delete", 0}, {"--sender", 1}, {"--device-token-hex", 1}})},
      {"pending-topics", 0, "pending-topics", pendingTopics},
      {"subscribe", 1, "subscribe TOPIC",
       [](const std::vector<std::string>& arguments) { return changeTopic(arguments.at(0), true); }},
      {"unsubscribe", 1, "unsubscribe TOPIC",
       [](const std::vector<std::string>& arguments) { return changeTopic(arguments.at(0), false); }},
      {"message-receive", 0, "message-receive --user-info JSON", messageReceive,
       countWithFlags(0, {{"--user-info", 1}})},
      {"delivery-metrics", 0, "delivery-metrics --user-info JSON [--bundle-id ID]", deliveryMetrics,
       countWithFlags(0, {{"--user-info", 1}, {"--bundle-id", 1}})},
      {"messaging-start", 0, "messaging-start", messagingStart},
  };
}

}  // namespace sdkprobe

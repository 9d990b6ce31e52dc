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
//
// Each subcommand pumps the main queue until its answer came.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/MainQueue.h"
#include "platform/keychain/Keychain.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "platform/values/Error.h"
#include "sdk/messaging/RIRMessagingAuthKeychain.h"
#include "sdk/messaging/RIRMessagingAuthService.h"
#include "sdk/messaging/RIRMessagingCheckinStore.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

constexpr double kTimeout = 120;

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
    bool reset = false;
    std::optional<platform::Error> resetError;
    auth->resetCheckinWithHandler([&](std::optional<platform::Error> error) {
      resetError = std::move(error);
      reset = true;
    });
    if (!wait([&] { return reset; })) return 1;
    if (resetError) return printError(*resetError);
  }
  bool done = false;
  std::shared_ptr<RIRMessagingCheckinPreferences> checkin;
  std::optional<platform::Error> failure;
  auth->fetchCheckinInfoWithHandler(
      [&](std::shared_ptr<RIRMessagingCheckinPreferences> value, std::optional<platform::Error> error) {
        checkin = std::move(value);
        failure = std::move(error);
        done = true;
      });
  if (!wait([&] { return done; })) return 1;
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

}  // namespace

std::vector<Subcommand> messagingSubcommands() {
  return {
      {"checkin", 0, "checkin [--force] [--device-token-hex HEX]", checkin, {{"--force", 0}, {"--device-token-hex", 1}}},
      {"checkin-stored", 0, "checkin-stored", checkinStored},
  };
}

}  // namespace sdkprobe

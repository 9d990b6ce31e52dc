// Incoming message payloads (JSON objects as a push service delivers them)
// through what reads them: the sync-message expiry, context messages and
// their local notification, delivery-metrics records, and an image answer's
// content type as a file suffix. Never a crash; the expiry stays within 28
// days of now; no context key reaches a notification; a suffix is plain.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/app/UserNotificationCenter.h"
#include "platform/net/HttpResponse.h"
#include "platform/storage/Json.h"
#include "sdk/messaging/RIRMessagingContextManagerService.h"
#include "sdk/messaging/RIRMessagingExtensionHelper.h"
#include "sdk/messaging/RIRMessagingMetricsLog.h"
#include "sdk/messaging/RIRMessagingRmqManager.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

std::shared_ptr<platform::UserNotificationCenter> center() {
  static const std::shared_ptr<platform::UserNotificationCenter> made = [] {
    auto created = std::make_shared<platform::UserNotificationCenter>();
    platform::UserNotificationCenter::setCurrent(created);
    return created;
  }();
  return made;
}

std::optional<std::string> text(const platform::Dictionary& payload, const char* key) {
  const platform::Value* value = payload.find(key);
  return value ? std::optional<std::string>(value->stringValue()) : std::nullopt;
}

}  // namespace

// Local times are read in UTC, whatever the caller's zone.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  platform::HttpHeaders headers;
  headers.set("Content-Type", input.substr(0, input.find('\n')));
  const std::string suffix =
      RIRMessagingExtensionHelper::fileExtensionForResponse(platform::HttpResponse(200, headers, "http://h/i"));
  FUZZ_CHECK(suffix.size() <= 16);
  FUZZ_CHECK(suffix.find('/') == std::string::npos);

  platform::Result<platform::Value> parsed = platform::Json::parse(input);
  if (!parsed || !parsed.value().isDictionary()) return 0;
  const platform::Dictionary payload = *parsed.value().asDictionary();

  const int64_t before = RIRMessagingCurrentTimestampInSeconds();
  const int64_t expiry = RIRMessagingSyncMessageManager::expirationTimeForSyncMessage(payload);
  FUZZ_CHECK(expiry >= before && expiry <= RIRMessagingCurrentTimestampInSeconds() + 2419200);

  center()->removeAllPendingRequests();
  if (RIRMessagingContextManagerService::isContextManagerMessage(payload)) {
    RIRMessagingContextManagerService::handleContextManagerMessage(payload);
  }
  for (const auto& request : center()->pendingRequests()) {
    for (const auto& [key, value] : request.content.userInfo) {
      FUZZ_CHECK(!key.starts_with("zoruvu.c.cm.") && key != "aps");
    }
  }

  RIRMessagingClientEvent event;
  event.projectID = payload["zoruvu.c.sender.id"].longLongValue();
  event.messageID = text(payload, "zcm.message_id");
  event.instanceID = text(payload, "zoruvu.c.fid");
  event.messageLabel = text(payload, "zoruvu.c.a.m_l");
  event.campaignNumber = payload["zoruvu.c.a.c_id"].longLongValue();
  event.campaignLabel = text(payload, "zoruvu.c.a.c_l");
  const platform::Bytes bytes = RIRMessagingMetricsLog(event).transportBytes();
  FUZZ_CHECK(bytes.size() >= 2 && bytes[0] == 0x0a);
  return 0;
}

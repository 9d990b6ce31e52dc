// RIRMessagingExtensionHelper: help for an app's notification-service
// extension: it attaches the image named by the payload ("rcm_options" ->
// "image") to the notification content before handing the content back,
// and reports a message's delivery as a delivery-metrics event through the
// event transport (mapping "1249", target 1000, tier 4).
//
// Image download: a new HTTP session per image; the downloaded file is moved
// beside its temporary name with a suffix taken from the answer (the
// suggested file name's extension, else "image/x" as ".x"); a suffix that is
// not 1 to 16 of [A-Za-z0-9.+-] is not used. Every failure is logged
// (I-RCM020000 to I-RCM020003) and the content is delivered unchanged.
// After a download the content handler runs on the session's queue, without
// one on the caller's thread.
//
// Delivery metrics need "zoruvu.c.sender.id", a string "zcm.message_id" and a
// string "zoruvu.c.fid"; otherwise one log line and nothing is sent.
//
// Thread safety: populate and deliver from one thread at a time (a new
// populate replaces the notification in progress); export from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/app/UserNotification.h"
#include "platform/net/HttpResponse.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

class ZDTCOREvent;

inline constexpr const char* kRIRMessagingDeliveryMetricsMappingID = "1249";
inline constexpr int64_t kRIRMessagingDeliveryMetricsTarget = 1000;

class RIRMessagingExtensionHelper : public std::enable_shared_from_this<RIRMessagingExtensionHelper> {
 public:
  using ContentHandler = std::function<void(const platform::UserNotificationContent& content)>;
  using AttachmentCompletion = std::function<void(std::optional<platform::UserNotificationAttachment> attachment,
                                                  std::optional<platform::Error> error)>;

  void populateNotificationContent(platform::UserNotificationContent content, ContentHandler contentHandler);
  void loadAttachmentForURL(const std::string& url, AttachmentCompletion completion);
  static std::string fileExtensionForResponse(const platform::HttpResponse& response);
  void deliverNotification();
  // The event handed to the transport, or none when nothing was sent.
  // `bundleIdentifier` stands in for the main bundle's; `onComplete` hears
  // when the transport stored (or refused) the event.
  std::shared_ptr<ZDTCOREvent> exportDeliveryMetricsToWarehouseWithMessageInfo(
      const platform::Dictionary& info, const std::optional<std::string>& bundleIdentifier = std::nullopt,
      std::function<void(bool wasWritten, std::optional<platform::Error> error)> onComplete = nullptr);
  static std::string bundleIdentifierByRemovingLastPartFrom(std::string_view bundleIdentifier);

 private:
  std::mutex m_mutex;
  ContentHandler m_contentHandler;
  platform::UserNotificationContent m_bestAttemptContent;
};

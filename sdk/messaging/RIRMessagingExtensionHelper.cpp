#include "sdk/messaging/RIRMessagingExtensionHelper.h"

#include "platform/net/HttpSession.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/PercentEncoding.h"
#include "platform/text/Regex.h"
#include "platform/text/Url.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingMetricsLog.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/transport/ZDTCORTransport.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

namespace {

const RIRMessagingLogger& logger() { return RIRMessagingSharedLogger(); }

bool isSafeSuffix(const std::string& suffix) {
  if (suffix.empty() || suffix.size() > 16) return false;
  for (char c : suffix) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '+' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string fileURL(const std::string& path) { return "file://" + platform::PercentEncoding::encodePath(path); }

}  // namespace

std::string RIRMessagingExtensionHelper::bundleIdentifierByRemovingLastPartFrom(std::string_view bundleIdentifier) {
  return RIRMessagingBundleIDByRemovingLastPartFrom(bundleIdentifier);
}

void RIRMessagingExtensionHelper::populateNotificationContent(platform::UserNotificationContent content,
                                                              ContentHandler contentHandler) {
  std::optional<std::string> imageURL;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_contentHandler = std::move(contentHandler);
    m_bestAttemptContent = std::move(content);
    const platform::Value& image = m_bestAttemptContent.userInfo["rcm_options"]["image"];
    if (!image.isNull()) imageURL = image.stringValue();
  }
  if (!imageURL) {
    deliverNotification();
    return;
  }
  std::optional<platform::Url> url = platform::Url::parse(*imageURL);
  if (!url || !url->hasSchemeAndHost()) {
    logger().logFuncError(20000, "The Image URL provided is invalid " + *imageURL + ".");
    deliverNotification();
    return;
  }
  std::weak_ptr<RIRMessagingExtensionHelper> weakSelf = weak_from_this();
  loadAttachmentForURL(url->string(), [weakSelf](std::optional<platform::UserNotificationAttachment> attachment,
                                                 std::optional<platform::Error>) {
    std::shared_ptr<RIRMessagingExtensionHelper> self = weakSelf.lock();
    if (!self) return;
    if (attachment) {
      std::lock_guard<std::mutex> lock(self->m_mutex);
      self->m_bestAttemptContent.attachments = {*attachment};
    }
    self->deliverNotification();
  });
}

void RIRMessagingExtensionHelper::deliverNotification() {
  ContentHandler handler;
  platform::UserNotificationContent content;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    handler = m_contentHandler;
    content = m_bestAttemptContent;
  }
  if (handler) handler(content);
}

void RIRMessagingExtensionHelper::loadAttachmentForURL(const std::string& url, AttachmentCompletion completion) {
  std::shared_ptr<platform::HttpSession> session = platform::HttpSession::create();
  auto task = session->downloadTask(platform::HttpRequest(url), [url, completion](platform::HttpDownloadResult result) {
    if (result.error) {
      logger().logFuncError(20001, "Failed to download image given URL " + url +
                                       ", error: " + result.error->localizedDescription() + "\n");
      completion(std::nullopt, result.error);
      return;
    }
    const std::string suffix = result.response ? fileExtensionForResponse(*result.response) : std::string();
    const std::string localPath = result.location + suffix;
    std::optional<platform::Error> moveError;
    if (!suffix.empty()) moveError = platform::fs::moveItem(result.location, localPath);
    if (const std::optional<platform::Error>& error = moveError) {
      logger().logFuncError(20002, "Failed to move the image file to local location: " + fileURL(localPath) +
                                       ", error: " + error->localizedDescription() + "\n");
      completion(std::nullopt, error);
      return;
    }
    platform::Result<platform::UserNotificationAttachment> attachment =
        platform::UserNotificationAttachment::make("", fileURL(localPath));
    if (!attachment) {
      logger().logFuncError(20003, "Failed to create attachment with URL " + fileURL(localPath) +
                                       ", error: " + attachment.error().localizedDescription() + "\n");
      completion(std::nullopt, attachment.error());
      return;
    }
    completion(attachment.value(), std::nullopt);
  });
  task->resume();
}

std::string RIRMessagingExtensionHelper::fileExtensionForResponse(const platform::HttpResponse& response) {
  std::string suffix;
  const std::string extension = platform::fs::pathExtension(response.suggestedFilename());
  const std::string mimeType = response.mimeType();
  if (!extension.empty()) {
    suffix = "." + extension;
  } else if (mimeType.find("image/") != std::string::npos) {
    suffix = replaceAll(mimeType, "image/", ".");
  }
  // The suffix becomes part of a local file name: nothing but a plain
  // extension may come from the server.
  return isSafeSuffix(suffix) ? suffix : std::string();
}

std::shared_ptr<ZDTCOREvent> RIRMessagingExtensionHelper::exportDeliveryMetricsToWarehouseWithMessageInfo(
    const platform::Dictionary& info, const std::optional<std::string>& bundleIdentifier,
    std::function<void(bool wasWritten, std::optional<platform::Error> error)> onComplete) {
  const platform::Value* senderID = info.find("zoruvu.c.sender.id");
  if (senderID == nullptr || senderID->isNull()) {
    logger().logFuncError(2005, "Delivery logging failed: Invalid project ID");
    return nullptr;
  }
  const platform::Value* messageID = info.find("zcm.message_id");
  if (messageID == nullptr || !messageID->isString()) {
    logger().logFuncWarning(2006, "Delivery logging failed: Invalid Message ID");
    return nullptr;
  }
  const platform::Value* instanceID = info.find("zoruvu.c.fid");
  if (instanceID == nullptr || !instanceID->isString()) {
    logger().logFuncWarning(2007, "Delivery logging failed: Invalid Instance ID");
    return nullptr;
  }

  RIRMessagingClientEvent event;
  event.projectID = senderID->longLongValue();
  event.messageID = *messageID->asString();
  event.instanceID = *instanceID->asString();
  const platform::Value& aps = info["aps"];
  const bool dataMessage = aps.isDictionary() && aps["content-available"].longLongValue() == 1;
  event.messageKind = dataMessage && !ZULAppEnvironmentUtil::isAppExtension() ? 1 : 3;
  event.platformKind = 2;
  std::string bundleID = bundleIdentifier ? *bundleIdentifier : RIRMessagingAppIdentifier().value_or("");
  if (ZULAppEnvironmentUtil::isAppExtension()) bundleID = bundleIdentifierByRemovingLastPartFrom(bundleID);
  event.appBundleID = bundleID;
  event.eventKind = 1;
  if (const platform::Value* label = info.find("zoruvu.c.a.m_l")) event.messageLabel = label->stringValue();
  if (const platform::Value* campaign = info.find("zoruvu.c.a.c_id")) event.campaignNumber = campaign->longLongValue();
  if (const platform::Value* label = info.find("zoruvu.c.a.c_l")) event.campaignLabel = label->stringValue();

  std::shared_ptr<ZDTCORTransport> transport =
      ZDTCORTransport::initWithMappingID(kRIRMessagingDeliveryMetricsMappingID, {}, kRIRMessagingDeliveryMetricsTarget);
  if (!transport) return nullptr;
  std::shared_ptr<ZDTCOREvent> transportEvent;
  if (const platform::Value* productID = info.find("zoruvu.product_id")) {
    transportEvent = transport->eventForTransportWithProductData(ZDTCORProductData(productID->intValue()));
  } else {
    transportEvent = transport->eventForTransport();
  }
  if (!transportEvent) return nullptr;
  transportEvent->setDataObject(std::make_shared<RIRMessagingMetricsLog>(std::move(event)));
  transportEvent->setQosTier(ZDTCOREventQoSFast);
  transport->sendDataEvent(transportEvent, std::move(onComplete));
  return transportEvent;
}

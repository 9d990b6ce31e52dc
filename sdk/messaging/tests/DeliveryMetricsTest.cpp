// Delivery metrics (the event handed to the transport and its wire bytes) and
// the notification-service helper's image attachment.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/crypto/Digest.h"
#include "platform/net/HttpResponse.h"
#include "sdk/messaging/RIRMessagingExtensionHelper.h"
#include "sdk/messaging/RIRMessagingMetricsLog.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "testing/LoopbackServer.h"
#include "testing/MainQueuePump.h"

namespace {

using platform::Dictionary;
using platform::Value;
using Helper = RIRMessagingExtensionHelper;

std::string hex(const std::optional<platform::Bytes>& bytes) {
  return bytes ? platform::Digest::hex(*bytes) : "none";
}

class DeliveryMetricsTest : public ::testing::Test {
 protected:
  rcmtest::MessagingTestEnvironment env;
  std::shared_ptr<Helper> helper = std::make_shared<Helper>();
};

TEST_F(DeliveryMetricsTest, TheEventCarriesTheMessageFieldsByteForByte) {
  const Dictionary full{{"zoruvu.c.sender.id", "123456789012"}, {"zcm.message_id", "m1"}, {"zoruvu.c.fid", "fid1"},
                        {"zoruvu.c.a.m_l", "L"},       {"zoruvu.c.a.c_id", "77"},  {"zoruvu.c.a.c_l", "C"},
                        {"aps", Value::dict({{"alert", "hi"}})}};
  auto event = helper->exportDeliveryMetricsToWarehouseWithMessageInfo(full);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->mappingID(), "1249");
  EXPECT_EQ(event->target(), 1000);
  EXPECT_EQ(event->qosTier(), 4);
  EXPECT_FALSE(event->productData());
  // A display notification (kind 3) with every optional field.
  EXPECT_EQ(hex(event->serializedDataObjectBytes()),
            "0a2e0894b4e4f4cb0312026d311a046669643120032802320d636f6d2e74617669782e61707060016a014c704d7a0143");

  // A data message (kind 1), sender ID 0 (no field 1), no optional fields,
  // with product data.
  const Dictionary data{{"zoruvu.c.sender.id", 0},  {"zcm.message_id", "m1"}, {"zoruvu.c.fid", "fid1"},
                        {"zoruvu.product_id", 42}, {"aps", Value::dict({{"content-available", 1}})}};
  event = helper->exportDeliveryMetricsToWarehouseWithMessageInfo(data);
  ASSERT_TRUE(event);
  EXPECT_EQ(hex(event->serializedDataObjectBytes()), "0a1f12026d311a046669643120012802320d636f6d2e74617669782e6170706001");
  ASSERT_TRUE(event->productData());
  EXPECT_EQ(event->productData()->productID(), 42);
}

TEST_F(DeliveryMetricsTest, AMessageWithoutItsIdentifiersSendsNothing) {
  const struct {
    Dictionary info;
    const char* logged;
  } cases[] = {
      {Dictionary{{"zcm.message_id", "m"}, {"zoruvu.c.fid", "f"}}, "I-RCM002005"},
      {Dictionary{{"zoruvu.c.sender.id", "1"}, {"zoruvu.c.fid", "f"}}, "I-RCM002006"},
      {Dictionary{{"zoruvu.c.sender.id", "1"}, {"zcm.message_id", 5}, {"zoruvu.c.fid", "f"}}, "I-RCM002006"},
      {Dictionary{{"zoruvu.c.sender.id", "1"}, {"zcm.message_id", "m"}}, "I-RCM002007"},
  };
  for (const auto& c : cases) {
    env.env.clearLogs();
    EXPECT_FALSE(helper->exportDeliveryMetricsToWarehouseWithMessageInfo(c.info)) << c.logged;
    EXPECT_TRUE(env.env.logged(c.logged)) << c.logged;
  }
}

TEST_F(DeliveryMetricsTest, TheFileSuffixComesFromTheNameOrTheImageTypeAndMustBePlain) {
  const struct {
    const char* url;
    const char* contentType;
    const char* disposition;
    const char* suffix;
  } cases[] = {
      {"http://h/a/picture.png", "application/octet-stream", nullptr, ".png"},
      {"http://h/a/picture", "image/jpeg", nullptr, ".jpeg"},
      {"http://h/a/picture", "image/svg+xml; charset=utf-8", nullptr, ".svg+xml"},
      {"http://h/a/picture", "text/plain", nullptr, ""},
      {"http://h/a/picture", "image/../../../etc/x", nullptr, ""},
      {"http://h/a/picture", "image/aaaaaaaaaaaaaaaaaaaa", nullptr, ""},
      {"http://h/a/x", nullptr, "attachment; filename=\"photo.gif\"", ".gif"},
      {"http://h/a/x", nullptr, "attachment; filename=\"photo.g i f\"", ""},
  };
  for (const auto& c : cases) {
    platform::HttpHeaders headers;
    if (c.contentType) headers.set("Content-Type", c.contentType);
    if (c.disposition) headers.set("Content-Disposition", c.disposition);
    EXPECT_EQ(Helper::fileExtensionForResponse(platform::HttpResponse(200, headers, c.url)), c.suffix) << c.url;
  }
  EXPECT_EQ(Helper::bundleIdentifierByRemovingLastPartFrom("com.tavix.app.extension"), "com.tavix.app");
}

class ExtensionHelperImageTest : public testkit::MainQueuePump {
 protected:
  // Populates a content whose payload names `image` and waits for delivery.
  std::optional<platform::UserNotificationContent> populate(const Value& image) {
    platform::UserNotificationContent content;
    content.title = "t";
    content.userInfo = Dictionary{{"rcm_options", Value::dict({{"image", image}})}};
    std::atomic<int> calls{0};
    std::optional<platform::UserNotificationContent> delivered;
    std::mutex mutex;
    helper->populateNotificationContent(content, [&](const platform::UserNotificationContent& result) {
      std::lock_guard<std::mutex> lock(mutex);
      delivered = result;
      ++calls;
    });
    EXPECT_TRUE(runUntil([&] { return calls.load() > 0; }, 30));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(calls.load(), 1);
    return delivered;
  }

  rcmtest::MessagingTestEnvironment env;
  testkit::LoopbackServer server;
  std::shared_ptr<Helper> helper = std::make_shared<Helper>();
};

TEST_F(ExtensionHelperImageTest, AnImageIsAttachedUnderASuffixFromTheAnswer) {
  server.on("GET", "/img/photo.png", testkit::Answer::text(200, "PNGDATA", "application/octet-stream"));
  server.on("GET", "/img/plain", testkit::Answer::text(200, "JPEGDATA", "image/jpeg"));
  const struct {
    const char* path;
    const char* suffix;
  } cases[] = {{"/img/photo.png", ".png"}, {"/img/plain", ".jpeg"}};
  for (const auto& c : cases) {
    auto content = populate(Value(server.url(c.path)));
    ASSERT_TRUE(content);
    ASSERT_EQ(content->attachments.size(), 1u) << c.path;
    EXPECT_TRUE(content->attachments[0].path.ends_with(c.suffix)) << content->attachments[0].path;
    EXPECT_EQ(content->attachments[0].type, "image");
    EXPECT_EQ(content->title, "t");
  }
}

TEST_F(ExtensionHelperImageTest, EveryImageFailureDeliversTheContentUnchanged) {
  server.on("GET", "/img/blob", testkit::Answer::text(200, "???", "application/octet-stream"));
  server.on("GET", "/img/evil", testkit::Answer::text(200, "???", "image/../../x"));
  server.on("GET", "/img/gone", testkit::Answer::close());
  const struct {
    Value image;
    const char* logged;
  } cases[] = {
      {Value(server.url("/img/blob")), "I-RCM020003"},
      {Value(server.url("/img/evil")), "I-RCM020003"},
      {Value(server.url("/img/gone")), "I-RCM020001"},
      {Value("not an address"), "I-RCM020000"},
  };
  for (const auto& c : cases) {
    env.env.clearLogs();
    auto content = populate(c.image);
    ASSERT_TRUE(content);
    EXPECT_TRUE(content->attachments.empty()) << c.logged;
    EXPECT_TRUE(env.env.logged(c.logged)) << c.logged;
  }

  // No image at all: delivered at once, on this thread.
  bool delivered = false;
  helper->populateNotificationContent({}, [&](const platform::UserNotificationContent&) { delivered = true; });
  EXPECT_TRUE(delivered);
}

}  // namespace

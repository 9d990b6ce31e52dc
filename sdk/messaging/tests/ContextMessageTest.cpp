// Context messages: notifications scheduled at a local wall-clock time.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include "platform/app/UserNotificationCenter.h"
#include "sdk/messaging/RIRMessagingContextManagerService.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Dictionary;
using platform::Value;
using Service = RIRMessagingContextManagerService;

// Local time is UTC here; the clock stands at 2023-11-14 22:13:20.
class ContextMessageTest : public ::testing::Test {
 protected:
  ContextMessageTest() { platform::UserNotificationCenter::setCurrent(center); }
  ~ContextMessageTest() override { platform::UserNotificationCenter::setCurrent(previous); }

  std::optional<platform::UserNotificationRequest> onlyRequest() {
    auto pending = center->pendingRequests();
    if (pending.size() != 1) return std::nullopt;
    return pending.front();
  }

  rcmtest::MessagingTestEnvironment env;
  testkit::VirtualClockScope clock;
  std::shared_ptr<platform::UserNotificationCenter> previous = platform::UserNotificationCenter::current();
  std::shared_ptr<platform::UserNotificationCenter> center = std::make_shared<platform::UserNotificationCenter>();
};

platform::DateComponents at(int64_t year, int month, int day, int hour, int minute, int second) {
  platform::DateComponents c;
  c.year = year;
  c.month = month;
  c.day = day;
  c.hour = hour;
  c.minute = minute;
  c.second = second;
  return c;
}

void expectTrigger(const platform::UserNotificationRequest& request, const platform::DateComponents& expected) {
  ASSERT_TRUE(request.trigger);
  EXPECT_FALSE(request.trigger->repeats);
  const platform::DateComponents& c = request.trigger->dateComponents;
  EXPECT_EQ(std::make_tuple(c.year, c.month, c.day, c.hour, c.minute, c.second),
            std::make_tuple(expected.year, expected.month, expected.day, expected.hour, expected.minute,
                            expected.second));
}

TEST_F(ContextMessageTest, AStartAheadIsScheduledAtThatLocalTimeWithTheMessageContent) {
  const Dictionary message{{"zoruvu.c.cm.lt_start", "2023-11-14 23:13:20"},
                           {"zcm.message_id", "msg-1"},
                           {"zcm.notification.title", "Title"},
                           {"zcm.notification.body", "Body"},
                           {"zcm.notification.badge", 3},
                           {"zcm.notification.sound", "chime"},
                           {"zcm.notification.click_action", "OPEN"},
                           {"zcm.notification.content-available", 1},
                           {"zoruvu.c.cm.other", "x"},
                           {"aps", Value::dict({{"alert", "a"}})},
                           {"custom", "kept"}};
  EXPECT_TRUE(Service::isContextManagerMessage(message));
  EXPECT_TRUE(Service::handleContextManagerMessage(message));
  auto request = onlyRequest();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->identifier, "msg-1");
  expectTrigger(*request, at(2023, 11, 14, 23, 13, 20));
  EXPECT_EQ(request->content.title, "Title");
  EXPECT_EQ(request->content.body, "Body");
  EXPECT_EQ(request->content.badge, 3);
  EXPECT_EQ(request->content.sound, "chime");
  EXPECT_EQ(request->content.categoryIdentifier, "OPEN");
  EXPECT_EQ(Value(request->content.userInfo),
            Value::dict({{"zcm.message_id", "msg-1"},
                         {"zcm.notification.title", "Title"},
                         {"zcm.notification.body", "Body"},
                         {"zcm.notification.badge", 3},
                         {"zcm.notification.sound", "chime"},
                         {"zcm.notification.click_action", "OPEN"},
                         {"custom", "kept"}}));
}

TEST_F(ContextMessageTest, APastStartIsDroppedOrScheduledTenSecondsAheadByItsEndTime) {
  const struct {
    const char* name;
    std::optional<std::string> end;
    bool scheduled;
    const char* logged;
  } cases[] = {
      {"no end", std::nullopt, false, "I-RCM006003"},
      {"end passed", "2023-11-14 22:00:00", false, "I-RCM006005"},
      {"end ahead", "2023-11-15 00:00:00", true, nullptr},
      {"end now", "2023-11-14 22:13:20", true, nullptr},
      {"end unreadable", "tomorrow", true, nullptr},
  };
  for (const auto& c : cases) {
    center->removeAllPendingRequests();
    env.env.clearLogs();
    Dictionary message{{"zoruvu.c.cm.lt_start", "2023-11-14 22:13:20"}, {"zcm.message_id", c.name}};
    if (c.end) message.set("zoruvu.c.cm.lt_end", *c.end);
    EXPECT_TRUE(Service::handleContextManagerMessage(message)) << c.name;
    if (c.scheduled) {
      auto request = onlyRequest();
      ASSERT_TRUE(request) << c.name;
      expectTrigger(*request, at(2023, 11, 14, 22, 13, 30));
    } else {
      EXPECT_TRUE(center->pendingRequests().empty()) << c.name;
      EXPECT_TRUE(env.env.logged(c.logged)) << c.name;
    }
  }
}

TEST_F(ContextMessageTest, MessagesWithoutAReadableStartAreNotScheduled) {
  EXPECT_FALSE(Service::isContextManagerMessage(Dictionary{{"zcm.message_id", "m"}}));
  EXPECT_FALSE(Service::isContextManagerMessage(Dictionary{{"zoruvu.c.cm.lt_start", ""}}));
  EXPECT_FALSE(Service::isContextManagerMessage(Dictionary{{"zoruvu.c.cm.lt_start", 5}}));
  EXPECT_TRUE(env.env.logged("I-RCM006000"));
  EXPECT_FALSE(Service::handleContextManagerMessage(Dictionary{{"zcm.message_id", "m"}}));

  EXPECT_FALSE(Service::handleContextManagerMessage(Dictionary{{"zoruvu.c.cm.lt_start", "2023/11/15 10:00"}}));
  EXPECT_TRUE(env.env.logged("Invalid local start date format 2023/11/15 10:00. Message dropped"));
  EXPECT_TRUE(center->pendingRequests().empty());
}

TEST_F(ContextMessageTest, WithoutAMessageIDEachRequestGetsAFreshIdentifierAndEmptyTextsStayUnset) {
  const Dictionary message{{"zoruvu.c.cm.lt_start", "2023-11-15 08:00:00"},
                           {"zcm.notification.title", ""},
                           {"zcm.notification.body", ""}};
  Service::handleContextManagerMessage(message);
  Service::handleContextManagerMessage(message);
  auto pending = center->pendingRequests();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_NE(pending[0].identifier, pending[1].identifier);
  EXPECT_EQ(pending[0].identifier.size(), 36u);
  EXPECT_TRUE(pending[0].content.title.empty());
  EXPECT_TRUE(pending[0].content.body.empty());
  EXPECT_FALSE(pending[0].content.badge);
  EXPECT_FALSE(pending[0].content.sound);
  EXPECT_EQ(Value(pending[0].content.userInfo),
            Value::dict({{"zcm.notification.title", ""}, {"zcm.notification.body", ""}}));
}

TEST_F(ContextMessageTest, ASchedulingRefusalIsOnlyLogged) {
  center->setNotificationsAllowed(false);
  EXPECT_TRUE(Service::handleContextManagerMessage(Dictionary{{"zoruvu.c.cm.lt_start", "2023-11-15 08:00:00"}}));
  // The centre answers on a queue of its own.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!env.env.logged("I-RCM006006") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(env.env.logged("Failed scheduling local timezone notification: "));
}

}  // namespace

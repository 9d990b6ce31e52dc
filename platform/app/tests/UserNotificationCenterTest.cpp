#include "platform/app/UserNotificationCenter.h"

#include <gtest/gtest.h>

#include <future>

#include "platform/storage/FileSystem.h"
#include "platform/time/Calendar.h"
#include "testing/TempHome.h"

namespace platform {
namespace {

UserNotificationRequest request(std::string id, std::optional<CalendarNotificationTrigger> trigger = {}) {
  UserNotificationRequest r;
  r.identifier = std::move(id);
  r.content.title = "Title " + r.identifier;
  r.content.body = "Body";
  r.content.badge = 1;
  r.content.sound = "default";
  r.content.categoryIdentifier = "cat";
  r.content.userInfo = Dictionary{{"zcm.message_id", r.identifier}};
  r.trigger = std::move(trigger);
  return r;
}

std::optional<Error> addAndWait(UserNotificationCenter& center, UserNotificationRequest r) {
  std::promise<std::optional<Error>> done;
  center.addRequest(std::move(r), [&done](std::optional<Error> error) { done.set_value(std::move(error)); });
  return done.get_future().get();
}

std::vector<std::string> pendingIds(const UserNotificationCenter& center) {
  std::vector<std::string> ids;
  for (const auto& r : center.pendingRequests()) ids.push_back(r.identifier);
  return ids;
}

TEST(UserNotificationCenterTest, PendingRequestsAreKeptReplacedAndRemoved) {
  UserNotificationCenter center;
  EXPECT_FALSE(addAndWait(center, request("a")));
  EXPECT_FALSE(addAndWait(center, request("b")));
  UserNotificationRequest replacement = request("a");
  replacement.content.title = "replaced";
  Dictionary callerInfo = replacement.content.userInfo;
  EXPECT_FALSE(addAndWait(center, replacement));
  callerInfo.set("late", "change");  // the centre kept its own copy

  auto pending = center.pendingRequests();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].identifier, "a");
  EXPECT_EQ(pending[0].content.title, "replaced");
  EXPECT_FALSE(pending[0].content.userInfo.contains("late"));
  EXPECT_EQ(pending[1].content.badge, 1);

  center.removePendingRequests({"a", "unknown"});
  EXPECT_EQ(pendingIds(center), std::vector<std::string>{"b"});
  center.removeAllPendingRequests();
  EXPECT_TRUE(center.pendingRequests().empty());

  center.setNotificationsAllowed(false);
  auto error = addAndWait(center, request("c"));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, UserNotificationError::kDomain);
  EXPECT_EQ(error->code, UserNotificationError::kNotificationsNotAllowed);
  EXPECT_TRUE(center.pendingRequests().empty());
}

TEST(UserNotificationCenterTest, HooksRunBeforeTheDelegateWhichRunsOnce) {
  UserNotificationCenter center;
  std::vector<std::string> log;
  std::vector<std::pair<bool, bool>> changes;
  center.addDelegateObserver([&](const auto& oldDelegate, const auto& newDelegate) {
    changes.emplace_back(oldDelegate != nullptr, newDelegate != nullptr);
  });
  center.addHook({[&](const UserNotification& n) { log.push_back("hook present " + n.request.identifier); },
                  [&](const UserNotificationResponse& r) {
                    log.push_back("hook response " + r.notification.request.identifier);
                  }});

  // Without a delegate the completions are answered at once.
  int presentCalls = 0;
  center.present({request("x"), 0}, [&](UserNotificationPresentation p) {
    EXPECT_EQ(p, UserNotificationPresentation::None);
    ++presentCalls;
  });
  EXPECT_EQ(presentCalls, 1);

  auto delegate = std::make_shared<UserNotificationCenterDelegate>();
  delegate->willPresent = [&](UserNotificationCenter&, const UserNotification& n, auto completion) {
    log.push_back("delegate present " + n.request.content.userInfo.get("zcm.message_id").stringValue());
    completion(UserNotificationPresentation::Alert);
    completion(UserNotificationPresentation::Sound);  // a second call does nothing
  };
  center.setDelegate(delegate);
  center.present({request("y"), 0}, [&](UserNotificationPresentation p) {
    EXPECT_EQ(p, UserNotificationPresentation::Alert);
    ++presentCalls;
  });
  EXPECT_EQ(presentCalls, 2);

  // The delegate lacks the response callback: completion at once, hook still runs.
  bool responded = false;
  center.respond({{request("z"), 0}}, [&] { responded = true; });
  EXPECT_TRUE(responded);
  center.setDelegate(nullptr);

  EXPECT_EQ(log, (std::vector<std::string>{"hook present x", "hook present y", "delegate present y",
                                           "hook response z"}));
  EXPECT_EQ(changes, (std::vector<std::pair<bool, bool>>{{false, true}, {true, false}}));
}

TEST(UserNotificationCenterTest, DueRequestsReachTheDelegate) {
  UserNotificationCenter center;
  std::vector<std::string> presented;
  auto delegate = std::make_shared<UserNotificationCenterDelegate>();
  delegate->willPresent = [&](UserNotificationCenter&, const UserNotification& n, auto completion) {
    presented.push_back(n.request.identifier);
    completion(UserNotificationPresentation::Alert);
  };
  center.setDelegate(delegate);

  auto at = [](int64_t year, int month, int day, int hour) {
    CalendarNotificationTrigger t;
    t.dateComponents.year = year;
    t.dateComponents.month = month;
    t.dateComponents.day = day;
    t.dateComponents.hour = hour;
    return t;
  };
  CalendarNotificationTrigger daily;
  daily.dateComponents.hour = 9;
  daily.repeats = true;
  CalendarComponents noon;
  noon.year = 2024, noon.month = 5, noon.day = 1, noon.hour = 12;
  double now = *Calendar::localTimestamp(noon);

  EXPECT_FALSE(addAndWait(center, request("past", at(2024, 5, 1, 11))));
  EXPECT_FALSE(addAndWait(center, request("future", at(2024, 5, 1, 13))));
  EXPECT_FALSE(addAndWait(center, request("now")));
  EXPECT_FALSE(addAndWait(center, request("daily", daily)));

  EXPECT_EQ(center.deliverDueRequests(now), 2u);
  EXPECT_EQ(presented, (std::vector<std::string>{"past", "now"}));
  EXPECT_EQ(pendingIds(center), (std::vector<std::string>{"future", "daily"}));

  EXPECT_TRUE(center.firePendingRequest("daily", now));
  EXPECT_TRUE(center.firePendingRequest("future", now));
  EXPECT_FALSE(center.firePendingRequest("future", now));
  EXPECT_EQ(pendingIds(center), std::vector<std::string>{"daily"});  // repeating stays
}

TEST(UserNotificationAttachmentTest, FromFileAddresses) {
  testkit::TempHome home;
  ASSERT_FALSE(fs::writeFile(home.file("image one.png"), std::string_view("png")));
  ASSERT_FALSE(fs::writeFile(home.file("notes.txt"), std::string_view("txt")));
  ASSERT_FALSE(fs::writeFile(home.file("noextension"), std::string_view("?")));
  struct Case {
    std::string url;
    int64_t code;  // 0: success
  };
  std::vector<Case> cases = {
      {"file://" + home.file("image%20one.png"), 0},
      {"file://localhost" + home.file("image%20one.png"), 0},
      {"FILE://" + home.file("image%20one.png"), 0},
      {"file://" + home.file("missing.png"), UserNotificationError::kAttachmentNotInDataStore},
      {"file://" + home.path(), UserNotificationError::kAttachmentNotInDataStore},
      {"file://" + home.file("notes.txt"), UserNotificationError::kAttachmentUnrecognizedType},
      {"file://" + home.file("noextension"), UserNotificationError::kAttachmentUnrecognizedType},
      {"https://example.com/a.png", UserNotificationError::kAttachmentInvalidURL},
      {home.file("image one.png"), UserNotificationError::kAttachmentInvalidURL},
      {"file://relative.png", UserNotificationError::kAttachmentInvalidURL},
      {"file://" + home.file("bad%zz.png"), UserNotificationError::kAttachmentInvalidURL},
  };
  for (const auto& c : cases) {
    auto attachment = UserNotificationAttachment::make("", c.url);
    if (c.code == 0) {
      ASSERT_TRUE(attachment.ok()) << c.url;
      EXPECT_EQ(attachment->path, home.file("image one.png"));
      EXPECT_EQ(attachment->type, "image");
    } else {
      ASSERT_FALSE(attachment.ok()) << c.url;
      EXPECT_EQ(attachment.error().domain, UserNotificationError::kDomain);
      EXPECT_EQ(attachment.error().code, c.code) << c.url;
    }
  }
}

}  // namespace
}  // namespace platform

#include "platform/app/Application.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"

namespace platform {
namespace {

struct RecordingDelegate : ApplicationDelegate {
  explicit RecordingDelegate(std::vector<std::string>& log) : m_log(log) {}
  void applicationDidFinishLaunching(const Notification& n) override { m_log.push_back("delegate " + n.name); }
  void applicationDidBecomeActive(const Notification& n) override { m_log.push_back("delegate " + n.name); }
  void applicationWillResignActive(const Notification& n) override { m_log.push_back("delegate " + n.name); }
  void applicationWillTerminate(const Notification& n) override { m_log.push_back("delegate " + n.name); }
  std::vector<std::string>& m_log;
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {kApplicationDidFinishLaunchingNotification, kApplicationDidBecomeActiveNotification,
                             kApplicationWillResignActiveNotification, kApplicationWillTerminateNotification}) {
      m_tokens.push_back(NotificationCenter::defaultCenter().addObserver(
          name, NotificationObject(app), [this](const Notification& n) {
            log.push_back("posted " + n.name);
            EXPECT_EQ(n.object.as<Application>(), app);
            if (n.name == kApplicationDidFinishLaunchingNotification) launchInfo = n.userInfo;
          }));
    }
    app->setDelegate(std::make_shared<RecordingDelegate>(log));
  }
  void TearDown() override {
    for (auto token : m_tokens) NotificationCenter::defaultCenter().removeObserver(token);
  }

  std::shared_ptr<Application> app = std::make_shared<Application>();
  std::vector<std::string> log;
  Dictionary launchInfo;

 private:
  std::vector<ObserverToken> m_tokens;
};

TEST_F(ApplicationTest, LifeCycleCallsDelegateThenPostsOncePerStateChange) {
  const std::string launched = kApplicationDidFinishLaunchingNotification;
  const std::string active = kApplicationDidBecomeActiveNotification;
  const std::string resign = kApplicationWillResignActiveNotification;
  const std::string terminate = kApplicationWillTerminateNotification;

  app->becomeActive();  // before launch: ignored
  app->finishLaunching(Dictionary{{"UIApplicationLaunchOptionsURLKey", "tavix://open"}});
  app->finishLaunching();
  EXPECT_FALSE(app->isActive());
  app->becomeActive();
  app->becomeActive();
  EXPECT_TRUE(app->isActive());
  app->resignActive();
  app->resignActive();
  EXPECT_FALSE(app->isActive());
  app->becomeActive();
  app->terminate();
  app->terminate();
  app->resignActive();
  app->becomeActive();
  EXPECT_TRUE(app->isTerminating());

  std::vector<std::string> expected;
  for (const auto& name : {launched, active, resign, active, terminate}) {
    expected.push_back("delegate " + name);
    expected.push_back("posted " + name);
  }
  EXPECT_EQ(log, expected);
  EXPECT_EQ(launchInfo.get("UIApplicationLaunchOptionsURLKey"), Value("tavix://open"));
}

TEST_F(ApplicationTest, WorksWithoutDelegateAndKeepsLaunchArgumentsWhole) {
  app->setDelegate(nullptr);
  app->finishLaunching();
  EXPECT_EQ(log, std::vector<std::string>{"posted " + std::string(kApplicationDidFinishLaunchingNotification)});

  const char* argv[] = {"/usr/bin/tavix", "-DebugDeferredDeepLink", "two words", ""};
  app->setLaunchArguments(4, argv);
  EXPECT_EQ(app->launchArguments(),
            (std::vector<std::string>{"/usr/bin/tavix", "-DebugDeferredDeepLink", "two words", ""}));
  EXPECT_TRUE(app->hasLaunchArgument("two words"));
  EXPECT_FALSE(app->hasLaunchArgument("two"));
}

TEST(ApplicationSharedTest, SharedInstanceIsReplaceable) {
  auto original = Application::shared();
  EXPECT_EQ(Application::shared(), original);
  auto replacement = std::make_shared<Application>();
  Application::setShared(replacement);
  EXPECT_EQ(Application::shared(), replacement);
  Application::setShared(nullptr);
  EXPECT_NE(Application::shared(), replacement);
}

}  // namespace
}  // namespace platform

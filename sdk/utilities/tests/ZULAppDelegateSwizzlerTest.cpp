#include "sdk/utilities/ZULAppDelegateSwizzler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/app/Application.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/values/Exception.h"
#include "sdk/utilities/ZULAssertionHandler.h"
#include "sdk/utilities/ZULSwizzler.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"

namespace {

using platform::Arguments;
using platform::ClassRegistry;
using platform::Object;
using Swizzler = ZULAppDelegateSwizzler;

// An application delegate (or interceptor) of the object model: its class is
// registered, conforms to "NSApplicationDelegate" and handles the activity
// and token calls through its method table.
struct TestDelegate : Object, platform::ApplicationDelegate {
  explicit TestDelegate(std::string className) : Object(std::move(className)) {}
  bool answer = false;
  int activityCalls = 0;
  std::vector<std::string> tokens;
};

std::string registerDelegateClass(const std::string& stem, bool conforming = true) {
  static std::atomic<int> counter{0};
  const std::string name = stem + std::to_string(++counter);
  ClassRegistry& registry = ClassRegistry::shared();
  EXPECT_TRUE(registry.registerClass(name));
  if (conforming) registry.addProtocol(name, Swizzler::kApplicationDelegateProtocol);
  registry.addMethod(name, Swizzler::kContinueUserActivitySelector, [](Object* self, const Arguments&) -> std::any {
    auto* delegate = dynamic_cast<TestDelegate*>(self);
    ++delegate->activityCalls;
    return delegate->answer;
  });
  registry.addMethod(name, Swizzler::kDidRegisterForRemoteNotificationsSelector,
                     [](Object* self, const Arguments& arguments) -> std::any {
                       dynamic_cast<TestDelegate*>(self)->tokens.push_back(std::any_cast<std::string>(arguments.at(1)));
                       return {};
                     });
  return name;
}

bool continueUserActivity(Object& delegate) {
  std::any answer = ClassRegistry::shared().send(
      delegate, Swizzler::kContinueUserActivitySelector,
      {platform::Application::shared(), std::string("activity"), std::function<void()>()});
  return std::any_cast<bool>(answer);
}

class ZULAppDelegateSwizzlerTest : public ::testing::Test {
 protected:
  sdktest::SdkTestEnvironment env;
  std::string realClass = registerDelegateClass("TestAppDelegate");
  std::shared_ptr<TestDelegate> delegate = std::make_shared<TestDelegate>(realClass);

  ZULAppDelegateSwizzlerTest() {
    platform::Application::setShared(std::make_shared<platform::Application>());
    platform::Application::shared()->setDelegate(delegate);
    Swizzler::resetProxyOriginalDelegateOnceToken();
    Swizzler::clearInterceptors();
  }
  ~ZULAppDelegateSwizzlerTest() override {
    ZULAssertionHandler::setCurrent(nullptr);
    Swizzler::clearInterceptors();
    Swizzler::resetProxyOriginalDelegateOnceToken();
  }

  std::shared_ptr<TestDelegate> interceptor(bool answer) {
    auto made = std::make_shared<TestDelegate>(registerDelegateClass("TestInterceptor"));
    made->answer = answer;
    return made;
  }
};

TEST_F(ZULAppDelegateSwizzlerTest, ProxiesTheDelegateInPlaceOnce) {
  Swizzler::proxyOriginalDelegate();
  const std::string proxied = delegate->className();
  ASSERT_EQ(proxied.rfind("ZUL_" + realClass + "-", 0), 0u) << proxied;
  EXPECT_EQ(proxied.size(), ("ZUL_" + realClass + "-").size() + 36);
  EXPECT_EQ(Swizzler::proxySubclassName(), proxied);
  EXPECT_EQ(platform::Application::shared()->delegate(), delegate);
  EXPECT_EQ(Swizzler::originalDelegate(), delegate);

  // It still describes itself under its real class.
  std::any description = ClassRegistry::shared().send(*delegate, "description");
  EXPECT_EQ(std::any_cast<std::string>(description).rfind("<" + realClass + ": 0x", 0), 0u);

  Swizzler::proxyOriginalDelegate();
  Swizzler::proxyOriginalDelegateIncludingAPNSMethods();
  EXPECT_EQ(delegate->className(), proxied);  // one subclass only
}

TEST_F(ZULAppDelegateSwizzlerTest, ForwardedCallAnswersYesWhenAnyoneDoes) {
  Swizzler::proxyOriginalDelegate();
  const struct {
    std::vector<bool> interceptors;
    bool delegateAnswer;
    bool expected;
  } cases[] = {
      {{}, false, false}, {{}, true, true}, {{true}, false, true}, {{false}, false, false},
      {{false, true}, false, true}, {{false}, true, true},
  };
  for (const auto& c : cases) {
    Swizzler::clearInterceptors();
    std::vector<std::shared_ptr<TestDelegate>> registered;
    for (bool answer : c.interceptors) {
      registered.push_back(interceptor(answer));
      ASSERT_TRUE(Swizzler::registerAppDelegateInterceptor(registered.back()));
    }
    delegate->answer = c.delegateAnswer;
    delegate->activityCalls = 0;
    EXPECT_EQ(continueUserActivity(*delegate), c.expected);
    EXPECT_EQ(delegate->activityCalls, 1);  // the real implementation always runs
    for (const auto& each : registered) EXPECT_EQ(each->activityCalls, 1);
  }
}

TEST_F(ZULAppDelegateSwizzlerTest, AReleasedInterceptorIsRemovedWithAWarning) {
  Swizzler::proxyOriginalDelegate();
  auto kept = interceptor(false);
  auto released = interceptor(true);
  std::optional<std::string> keptID = Swizzler::registerAppDelegateInterceptor(kept);
  std::optional<std::string> releasedID = Swizzler::registerAppDelegateInterceptor(released);
  ASSERT_TRUE(keptID && releasedID);
  EXPECT_EQ(releasedID->rfind("ZUL_0x", 0), 0u);
  released.reset();

  EXPECT_FALSE(continueUserActivity(*delegate));
  EXPECT_TRUE(env.logged("I-SWZ001010"));
  EXPECT_TRUE(env.logged("AppDelegateProxy cannot find interceptor with ID " + *releasedID +
                         ". Removing the interceptor."));
  EXPECT_EQ(Swizzler::interceptors().size(), 1u);
  EXPECT_EQ(Swizzler::interceptors().count(*keptID), 1u);

  Swizzler::unregisterAppDelegateInterceptorWithID(releasedID);
  EXPECT_TRUE(env.logged("I-SWZ001004"));
  Swizzler::unregisterAppDelegateInterceptorWithID(keptID);
  EXPECT_TRUE(Swizzler::interceptors().empty());
}

TEST_F(ZULAppDelegateSwizzlerTest, RemoteNotificationMethodsReachInterceptorsThenTheDelegate) {
  auto listener = interceptor(false);
  ASSERT_TRUE(Swizzler::registerAppDelegateInterceptor(listener));
  Swizzler::proxyOriginalDelegateIncludingAPNSMethods();
  ClassRegistry::shared().send(*delegate, Swizzler::kDidRegisterForRemoteNotificationsSelector,
                               {platform::Application::shared(), std::string("token")});
  EXPECT_EQ(listener->tokens, std::vector<std::string>{"token"});
  EXPECT_EQ(delegate->tokens, std::vector<std::string>{"token"});
  // The delegate has no failure method of its own: interceptors still hear it.
  ClassRegistry::shared().send(*delegate, Swizzler::kDidFailToRegisterForRemoteNotificationsSelector,
                               {platform::Application::shared(), std::string("error")});
}

TEST_F(ZULAppDelegateSwizzlerTest, InfoPlistSwitchesCanDisableTheProxy) {
  const struct {
    platform::Dictionary info;
    bool enabled;
  } cases[] = {
      {{{"ZoruvuUtilitiesAppDelegateProxyEnabled", false}}, false},
      {{{"RirivuduAppDelegateProxyEnabled", 0}}, false},
      {{{"ZoruvuUtilitiesAppDelegateProxyEnabled", true}, {"RirivuduAppDelegateProxyEnabled", 1}}, true},
      {{{"ZoruvuUtilitiesAppDelegateProxyEnabled", "NO"}}, true},  // not a number: counts YES
      {{}, true},
  };
  for (const auto& c : cases) {
    env.writeInfo(c.info);
    EXPECT_EQ(Swizzler::isAppDelegateProxyEnabled(), c.enabled) << platform::Value(c.info).description();
  }

  env.writeInfo({{"ZoruvuUtilitiesAppDelegateProxyEnabled", false}});
  Swizzler::proxyOriginalDelegate();
  EXPECT_EQ(delegate->className(), realClass);
  EXPECT_TRUE(env.logged("I-SWZ001011"));
  EXPECT_EQ(Swizzler::correctAppDelegateProxyKey(), "ZoruvuUtilitiesAppDelegateProxyEnabled");
}

TEST_F(ZULAppDelegateSwizzlerTest, OnlyARegisteredConformingDelegateIsProxied) {
  struct PlainDelegate : platform::ApplicationDelegate {};
  for (auto& candidate : std::vector<std::shared_ptr<platform::ApplicationDelegate>>{
           nullptr, std::make_shared<PlainDelegate>(),
           std::make_shared<TestDelegate>(registerDelegateClass("TestNonConforming", false)),
           std::make_shared<TestDelegate>("NeverRegisteredDelegate")}) {
    env.clearLogs();
    Swizzler::proxyAppDelegate(candidate);
    EXPECT_TRUE(env.logged("I-SWZ001014"));
  }
}

TEST_F(ZULAppDelegateSwizzlerTest, AReplacedDelegateIsForgottenAndNotProxied) {
  Swizzler::proxyOriginalDelegate();
  ASSERT_EQ(Swizzler::originalDelegate(), delegate);
  auto replacement = std::make_shared<TestDelegate>(realClass);
  platform::Application::shared()->setDelegate(replacement);
  EXPECT_EQ(Swizzler::originalDelegate(), nullptr);
  Swizzler::proxyOriginalDelegate();
  EXPECT_EQ(replacement->className(), realClass);
}

TEST_F(ZULAppDelegateSwizzlerTest, InterceptorMisuseGoesToTheAssertionHandler) {
  EXPECT_THROW(Swizzler::registerAppDelegateInterceptor(nullptr), platform::Exception);

  std::vector<std::string> failures;
  ZULAssertionHandler::setCurrent([&](const std::string& text) { failures.push_back(text); });
  auto nonConforming = std::make_shared<TestDelegate>(registerDelegateClass("TestNonConforming", false));
  EXPECT_FALSE(Swizzler::registerAppDelegateInterceptor(nullptr));
  EXPECT_FALSE(Swizzler::registerAppDelegateInterceptor(nonConforming));
  Swizzler::unregisterAppDelegateInterceptorWithID(std::nullopt);
  EXPECT_EQ(failures, (std::vector<std::string>{"AppDelegateProxy cannot add nil interceptor",
                                                "AppDelegateProxy interceptor does not conform to UIApplicationDelegate",
                                                "AppDelegateProxy cannot unregister nil interceptor ID."}));
  EXPECT_TRUE(env.logged("I-SWZ001000"));
  EXPECT_TRUE(env.logged("I-SWZ001001"));
  EXPECT_TRUE(env.logged("I-SWZ001003"));
  EXPECT_TRUE(Swizzler::interceptors().empty());
}

// --- method swizzler ------------------------------------------------------

// Removes the named classes from the shared registry when the scope ends, so
// that a repeated run of a test can register them again.
struct RegisteredClasses {
  std::vector<std::string> names;
  ~RegisteredClasses() {
    for (auto it = names.rbegin(); it != names.rend(); ++it) ClassRegistry::shared().removeClass(*it);
  }
};

TEST(ZULSwizzlerTest, ReplacesInstanceAndClassMethodsSeparately) {
  ClassRegistry& registry = ClassRegistry::shared();
  RegisteredClasses cleanup{{"SwizzleBase", "SwizzleChild"}};
  ASSERT_TRUE(registry.registerClass("SwizzleBase"));
  ASSERT_TRUE(registry.registerClass("SwizzleChild", "SwizzleBase"));
  registry.addMethod("SwizzleBase", "name", [](Object*, const Arguments&) -> std::any { return std::string("base"); });
  registry.addMethod("SwizzleBase", "name",
                     [](Object*, const Arguments&) -> std::any { return std::string("class base"); },
                     platform::MethodKind::Class);
  EXPECT_TRUE(ZULSwizzler::selector("name", "SwizzleChild", false));  // inherited
  EXPECT_FALSE(ZULSwizzler::selector("missing", "SwizzleChild", false));

  Object* seen = nullptr;
  ZULSwizzler::swizzleClass("SwizzleChild", "name", false, [&](Object* self, const Arguments&) -> std::any {
    seen = self;
    return std::string("swizzled");
  });
  Object child("SwizzleChild");
  EXPECT_EQ(std::any_cast<std::string>(registry.send(child, "name")), "swizzled");
  EXPECT_EQ(seen, &child);
  EXPECT_EQ(std::any_cast<std::string>(
                ZULSwizzler::currentImplementationForClass("SwizzleChild", "name", false)(&child, {})),
            "swizzled");

  ZULSwizzler::swizzleClass("SwizzleBase", "name", true,
                            [](Object*, const Arguments&) -> std::any { return std::string("class swizzled"); });
  EXPECT_EQ(std::any_cast<std::string>(registry.sendClass("SwizzleBase", "name")), "class swizzled");
  Object base("SwizzleBase");
  EXPECT_EQ(std::any_cast<std::string>(registry.send(base, "name")), "base");  // the instance method stays
}

TEST(ZULSwizzlerTest, MisuseGoesToTheAssertionHandler) {
  auto noop = [](Object*, const Arguments&) -> std::any { return {}; };
  EXPECT_THROW(ZULSwizzler::swizzleClass("NSObject", "noSuchMethod", false, noop), platform::Exception);
  EXPECT_THROW(ZULSwizzler::swizzleClass("NSObject", "", false, noop), platform::Exception);
  EXPECT_THROW(ZULSwizzler::currentImplementationForClass("", "x", false), platform::Exception);

  std::vector<std::string> failures;
  ZULAssertionHandler::setCurrent([&](const std::string& text) { failures.push_back(text); });
  EXPECT_FALSE(ZULSwizzler::currentImplementationForClass("NSObject", "noSuchMethod", false));
  EXPECT_FALSE(ZULSwizzler::currentImplementationForClass("", "", false));
  ZULAssertionHandler::setCurrent(nullptr);
  EXPECT_EQ(failures, (std::vector<std::string>{
                          "The Method for this class/selector combo doesn't exist (NSObject, noSuchMethod).",
                          "The selector cannot be NULL", "The class cannot be Nil"}));
}

}  // namespace

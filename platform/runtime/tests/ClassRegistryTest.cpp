#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/runtime/ClassRegistry.h"
#include "platform/values/Exception.h"

namespace platform {
namespace {

std::string text(const std::any& value) { return std::any_cast<std::string>(value); }

Implementation answering(std::string answer) {
  return [answer](Object*, const Arguments&) { return std::any(answer); };
}

class ClassRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry.registerClass("Greeter", ClassRegistry::kRootClass,
                                       [] { return std::make_shared<Object>("Greeter"); }));
    ASSERT_TRUE(registry.registerClass("LoudGreeter", "Greeter"));
    registry.addMethod("Greeter", "greet", answering("hello"));
    registry.addMethod("Greeter", "greet", answering("class hello"), MethodKind::Class);
    registry.addProtocol("Greeter", "NSApplicationDelegate");
  }
  ClassRegistry registry;
};

TEST_F(ClassRegistryTest, RegistrationRules) {
  struct Case {
    std::string name, superclass;
    bool accepted;
  };
  for (const Case& c : {Case{"Greeter", "NSObject", false},  // taken
                        Case{"Orphan", "Missing", false},    // unknown superclass
                        Case{"", "NSObject", false},         //
                        Case{"ROZAdavurudo", "NSObject", true}}) {
    EXPECT_EQ(registry.registerClass(c.name, c.superclass), c.accepted) << c.name;
  }
  EXPECT_TRUE(registry.exists("NSObject"));
  EXPECT_TRUE(registry.exists("ROZAdavurudo"));
  EXPECT_FALSE(registry.exists("VUVEDatabase"));
  EXPECT_FALSE(registry.removeClass("Greeter"));  // has a subclass
  EXPECT_TRUE(registry.removeClass("LoudGreeter"));
  EXPECT_FALSE(registry.exists("LoudGreeter"));
  EXPECT_EQ(registry.superclass("Greeter"), "NSObject");
  EXPECT_EQ(registry.superclass("NSObject"), std::nullopt);
}

TEST_F(ClassRegistryTest, LookupsWalkTheSuperclassChain) {
  EXPECT_TRUE(registry.instancesRespondTo("LoudGreeter", "greet"));
  EXPECT_TRUE(registry.respondsTo("LoudGreeter", "greet"));
  EXPECT_FALSE(registry.hasOwnMethod("LoudGreeter", "greet"));
  EXPECT_FALSE(registry.instancesRespondTo("LoudGreeter", "wave"));
  EXPECT_FALSE(registry.instancesRespondTo("Unknown", "greet"));
  EXPECT_TRUE(registry.conformsTo("LoudGreeter", "NSApplicationDelegate"));
  EXPECT_FALSE(registry.conformsTo("NSObject", "NSApplicationDelegate"));
  EXPECT_TRUE(registry.isKindOf("LoudGreeter", "NSObject"));
  EXPECT_FALSE(registry.isKindOf("Greeter", "LoudGreeter"));
  EXPECT_EQ(text(registry.sendClass("LoudGreeter", "greet")), "class hello");

  Object loud("LoudGreeter");
  EXPECT_EQ(text(registry.send(loud, "greet")), "hello");
  try {
    registry.send(loud, "wave");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name, "NSInvalidArgumentException");
    EXPECT_EQ(e.reason, "-[LoudGreeter wave]: unrecognized selector sent to instance");
  }
  EXPECT_THROW(registry.sendClass("Greeter", "wave"), Exception);
}

TEST_F(ClassRegistryTest, SwizzledMethodRunsNewImplementationAndOldStaysCallable) {
  Object greeter("Greeter");
  Implementation old = registry.replaceMethod("Greeter", "greet", [&](Object* self, const Arguments& args) {
    return std::any(text(registry.method("Greeter", "greet-original")(self, args)) + ", swizzled");
  });
  ASSERT_TRUE(old);
  registry.addMethod("Greeter", "greet-original", old);
  EXPECT_EQ(text(registry.send(greeter, "greet")), "hello, swizzled");
  EXPECT_EQ(text(old(&greeter, {})), "hello");
  // Instance and class tables are separate; the class method is untouched.
  EXPECT_EQ(text(registry.sendClass("Greeter", "greet")), "class hello");

  // Replacing an inherited method installs it in the subclass only and hands
  // back the inherited implementation.
  Implementation inherited = registry.replaceMethod("LoudGreeter", "greet", answering("HELLO"));
  EXPECT_EQ(text(inherited(nullptr, {})), "hello, swizzled");
  Object loud("LoudGreeter");
  EXPECT_EQ(text(registry.send(loud, "greet")), "HELLO");
  EXPECT_EQ(text(registry.send(greeter, "greet")), "hello, swizzled");

  // A class method swizzle leaves the instance method alone.
  Implementation oldClass = registry.replaceMethod("Greeter", "greet", answering("new class hello"), MethodKind::Class);
  EXPECT_EQ(text(oldClass(nullptr, {})), "class hello");
  EXPECT_EQ(text(registry.send(greeter, "greet")), "hello, swizzled");

  EXPECT_FALSE(registry.replaceMethod("Missing", "greet", answering("x")));
  EXPECT_FALSE(registry.addMethod("Greeter", "greet", answering("again")));  // already its own
  EXPECT_TRUE(registry.addMethod("LoudGreeter", "wave", answering("wave")));
}

TEST_F(ClassRegistryTest, RuntimeSubclassAndClassChangeOfAnExistingObject) {
  // The delegate's real class and its real implementation.
  ASSERT_TRUE(registry.registerClass("AppDelegate"));
  registry.addMethod("AppDelegate", "application:continueUserActivity:restorationHandler:",
                     [](Object*, const Arguments&) { return std::any(false); });
  auto delegate = std::make_shared<Object>("AppDelegate");

  // A proxy subclass that asks an interceptor first, then the real class.
  const std::string proxy = "ZUL_AppDelegate-4F0C6E57-8D8E-4C47-9A3B-2B1F5F5E9A11";
  ASSERT_TRUE(registry.createSubclass(proxy, "AppDelegate"));
  EXPECT_FALSE(registry.createSubclass(proxy, "AppDelegate"));
  int interceptorCalls = 0;
  Implementation real = registry.method("AppDelegate", "application:continueUserActivity:restorationHandler:");
  registry.addMethod(proxy, "application:continueUserActivity:restorationHandler:",
                     [&, real](Object* self, const Arguments& args) {
                       ++interceptorCalls;
                       bool interceptor = true;
                       return std::any(interceptor || std::any_cast<bool>(real(self, args)));
                     });

  EXPECT_FALSE(std::any_cast<bool>(registry.send(*delegate, "application:continueUserActivity:restorationHandler:")));
  EXPECT_FALSE(registry.setClass(*delegate, "NoSuchClass"));
  EXPECT_EQ(delegate->className(), "AppDelegate");
  ASSERT_TRUE(registry.setClass(*delegate, proxy));
  EXPECT_EQ(delegate->className(), proxy);
  EXPECT_TRUE(std::any_cast<bool>(registry.send(*delegate, "application:continueUserActivity:restorationHandler:")));
  EXPECT_EQ(interceptorCalls, 1);
  EXPECT_TRUE(registry.isKindOf(delegate->className(), "AppDelegate"));
  // Other objects of the real class are unaffected.
  Object other("AppDelegate");
  EXPECT_FALSE(std::any_cast<bool>(registry.send(other, "application:continueUserActivity:restorationHandler:")));
}

struct Component : Object {
  Component() : Object("Component") {}
  int version() const { return 3; }
};

TEST_F(ClassRegistryTest, FactoriesAndTypedMake) {
  ASSERT_TRUE(registry.registerClass("Component", ClassRegistry::kRootClass, [] { return std::make_shared<Component>(); }));
  ASSERT_TRUE(registry.createSubclass("Component-Sub", "Component"));
  auto made = registry.make<Component>("Component");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->version(), 3);
  auto sub = registry.make<Component>("Component-Sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->className(), "Component-Sub");
  EXPECT_EQ(registry.make("Missing"), nullptr);
  EXPECT_EQ(registry.make("NSObject"), nullptr);  // no factory
  EXPECT_EQ(registry.make<Component>("Greeter"), nullptr);  // another C++ type
}

TEST_F(ClassRegistryTest, SwizzlingWhileOtherThreadsSend) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&] {
      Object greeter("LoudGreeter");
      while (!stop.load()) {
        std::string answer = text(registry.send(greeter, "greet"));
        ASSERT_TRUE(answer == "hello" || answer.rfind("v", 0) == 0) << answer;
      }
    });
  }
  for (int i = 0; i < 500; ++i) registry.replaceMethod("Greeter", "greet", answering("v" + std::to_string(i)));
  stop = true;
  for (auto& thread : senders) thread.join();
  Object greeter("Greeter");
  EXPECT_EQ(text(registry.send(greeter, "greet")), "v499");
}

}  // namespace
}  // namespace platform

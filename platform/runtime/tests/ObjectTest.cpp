#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/runtime/Object.h"

namespace platform {
namespace {

TEST(RuntimeObjectTest, AssociatedObjectsAreTypedReplacedAndReleasedWithTheObject) {
  auto table = std::make_shared<std::vector<std::string>>(std::vector<std::string>{"a"});
  std::weak_ptr<std::vector<std::string>> weakTable = table;
  auto replaced = std::make_shared<std::string>("old");
  std::weak_ptr<std::string> weakReplaced = replaced;
  {
    auto object = std::make_shared<Object>("AppDelegate");
    object->setAssociatedObject("realImplementations", std::move(table));
    object->setAssociatedObject("realClass", std::move(replaced));
    object->setAssociatedObject("realClass", std::make_shared<std::string>("AppDelegate"));
    EXPECT_TRUE(weakReplaced.expired());  // the replaced value is released

    EXPECT_EQ(*object->associatedObject<std::string>("realClass"), "AppDelegate");
    EXPECT_EQ(object->associatedObject<int>("realClass"), nullptr);  // other type
    EXPECT_EQ(object->associatedObject<std::string>("missing"), nullptr);
    ASSERT_NE(object->associatedObject<std::vector<std::string>>("realImplementations"), nullptr);

    object->removeAssociatedObject("realClass");
    EXPECT_FALSE(object->hasAssociatedObject("realClass"));
    object->setAssociatedObject<std::string>("realImplementations-2", nullptr);  // nullptr = remove
    EXPECT_FALSE(object->hasAssociatedObject("realImplementations-2"));
    EXPECT_FALSE(weakTable.expired());
  }
  EXPECT_TRUE(weakTable.expired());
}

// A value whose destructor uses the object it was attached to.
struct ReentrantValue {
  Object* owner;
  ~ReentrantValue() { owner->hasAssociatedObject("other"); }
};

TEST(RuntimeObjectTest, ReleasingAnAssociatedValueMayCallBackIntoTheObject) {
  Object object("X");
  object.setAssociatedObject("key", std::make_shared<ReentrantValue>(ReentrantValue{&object}));
  object.removeAssociatedObject("key");  // must not deadlock
  object.setAssociatedObject("key", std::make_shared<ReentrantValue>(ReentrantValue{&object}));
  object.removeAssociatedObjects();
  EXPECT_FALSE(object.hasAssociatedObject("key"));
}

TEST(RuntimeObjectTest, PropertyObserversHearOldAndNewAfterTheStore) {
  auto application = std::make_shared<Object>("NSApplication");
  auto firstDelegate = std::make_shared<Object>("AppDelegate");
  auto secondDelegate = std::make_shared<Object>("OtherDelegate");
  application->setProperty("delegate", std::shared_ptr<Object>(firstDelegate));

  std::vector<std::string> changes;
  Cancellable token = application->observeProperty("delegate", [&](const std::any& oldValue, const std::any& newValue) {
    auto name = [](const std::any& v) {
      auto object = std::any_cast<std::shared_ptr<Object>>(&v);
      return object && *object ? (*object)->className() : std::string("nil");
    };
    auto stored = application->propertyAs<std::shared_ptr<Object>>("delegate");
    changes.push_back(name(oldValue) + "->" + name(newValue) + " stored " + (stored && *stored ? (*stored)->className() : "nil"));
  });
  application->setProperty("title", std::string("ignored"));  // another property
  application->setProperty("delegate", std::shared_ptr<Object>(secondDelegate));
  application->setProperty("delegate", std::any());
  token.cancel();
  application->setProperty("delegate", std::shared_ptr<Object>(firstDelegate));
  EXPECT_EQ(changes, (std::vector<std::string>{"AppDelegate->OtherDelegate stored OtherDelegate",
                                               "OtherDelegate->nil stored nil"}));
  EXPECT_EQ(application->propertyAs<std::string>("title"), "ignored");
  EXPECT_EQ(application->propertyAs<int>("title"), std::nullopt);
}

}  // namespace
}  // namespace platform

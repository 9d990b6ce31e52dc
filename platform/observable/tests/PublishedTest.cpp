#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/observable/ObservableObject.h"
#include "platform/observable/Published.h"

namespace platform {
namespace {

// Each call: (value heard, value get() answered at that moment).
using Heard = std::vector<std::pair<int, int>>;

TEST(PublishedTest, InitialValueThenWillChangeBeforeStore) {
  Published<int> value(7);
  Heard heard;
  Cancellable token = value.subscribe([&](const int& next) { heard.emplace_back(next, value.get()); });
  value.set(8);
  value = 8;  // equal values notify too
  value.set(9);
  EXPECT_EQ(heard, (Heard{{7, 7}, {8, 7}, {8, 8}, {9, 8}}));
  EXPECT_EQ(value.get(), 9);

  token.cancel();
  value.set(10);
  EXPECT_EQ(heard.size(), 4u);
  EXPECT_EQ(value.subscriberCount(), 0u);
}

struct Model : ObservableObject {
  Published<std::vector<std::string>> items{*this, {}};
  Published<bool> busy{*this, false};
};

TEST(PublishedTest, OwnerHearsObjectWillChangeFirstWhileOldValueIsStored) {
  Model model;
  std::vector<std::string> events;
  Cancellable objectToken = model.objectWillChange().subscribe(
      [&] { events.push_back("object sees " + std::to_string(model.items.get().size())); });
  Cancellable itemsToken = model.items.subscribe(
      [&](const std::vector<std::string>& next) { events.push_back("items " + std::to_string(next.size())); });
  model.items.set({"a", "b"});
  model.busy.set(true);
  EXPECT_EQ(events, (std::vector<std::string>{"items 0", "object sees 0", "items 2", "object sees 2"}));
}

TEST(PublishedTest, CancellingAndSubscribingDuringDelivery) {
  Published<int> value(0);
  std::vector<std::string> calls;
  Cancellable second, late;
  Cancellable first = value.subscribe([&](const int& next) {
    calls.push_back("first " + std::to_string(next));
    if (next == 1) second.cancel();  // the later subscriber must not hear 1
    if (next == 2) first.cancel();   // cancelling itself inside its own call
    if (next == 3) {
      late = value.subscribe([&](const int& v) { calls.push_back("late " + std::to_string(v)); });
    }
  });
  second = value.subscribe([&](const int& next) { calls.push_back("second " + std::to_string(next)); });
  Cancellable third = value.subscribe([&](const int& next) {
    calls.push_back("third " + std::to_string(next));
    if (next == 2) late = value.subscribe([&](const int& v) { calls.push_back("late " + std::to_string(v)); });
  });
  value.set(1);
  value.set(2);  // first cancels itself; third subscribes "late", which starts with the incoming 2
  value.set(3);
  EXPECT_EQ(calls, (std::vector<std::string>{"first 0", "second 0", "third 0",  //
                                             "first 1", "third 1",              //
                                             "first 2", "third 2", "late 2",    //
                                             "third 3", "late 3"}));
}

TEST(PublishedTest, ThrowingSubscriberStillLeavesValueStored) {
  Published<int> value(1);
  Cancellable token = value.subscribe([](const int& next) {
    if (next == 2) throw std::runtime_error("subscriber failed");
  });
  EXPECT_THROW(value.set(2), std::runtime_error);
  EXPECT_EQ(value.get(), 2);
}

TEST(PublishedTest, TokenOutlivesPublished) {
  Cancellable token;
  {
    Published<std::string> text("a");
    token = text.subscribe([](const std::string&) {});
  }
  token.cancel();  // the property is gone; nothing to do, nothing touched
  EXPECT_FALSE(token.isActive());
}

TEST(PublishedTest, SubscriberFromAnotherThreadEndsWithTheLatestValue) {
  for (int round = 0; round < 20; ++round) {
    Published<int> value(0);
    std::vector<int> heard;
    Cancellable token;
    std::thread subscriber([&] { token = value.subscribe([&](const int& next) { heard.push_back(next); }); });
    for (int i = 1; i <= 200; ++i) value.set(i);
    subscriber.join();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(), 200);
    for (size_t i = 1; i < heard.size(); ++i) ASSERT_EQ(heard[i], heard[i - 1] + 1) << "a change was skipped";
  }
}

}  // namespace
}  // namespace platform

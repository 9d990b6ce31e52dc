// Guarded dictionary: ordering of reads after writes, snapshots, and use
// from many threads at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "sdk/utilities/ZULMutableDictionary.h"

namespace {

TEST(ZULMutableDictionaryTest, ReadsSeeEarlierWrites) {
  ZULMutableDictionary dictionary;
  dictionary.setObject(platform::Value(1), "a");
  EXPECT_EQ(dictionary.objectForKey("a"), platform::Value(1));
  dictionary.setObject(platform::Value(2), "b");
  ZULMutableDictionary::Map snapshot = dictionary.dictionary();
  dictionary.setObjectForKeyedSubscript(std::nullopt, "a");
  EXPECT_EQ(dictionary.count(), 1u);
  EXPECT_EQ(dictionary.objectForKeyedSubscript("a"), std::nullopt);
  EXPECT_EQ(snapshot.size(), 2u);  // the snapshot did not change
  dictionary.removeAllObjects();
  EXPECT_EQ(dictionary.count(), 0u);

  // Keys are copied: changing a container used as a key later changes nothing inside.
  platform::Array key{platform::Value(1)};
  dictionary.setObject(platform::Value("x"), platform::Value(key));
  key.append(platform::Value(2));
  EXPECT_EQ(dictionary.objectForKey(platform::Value::array({1})), platform::Value("x"));
}

TEST(ZULMutableDictionaryTest, ManyThreadsAtOnce) {
  ZULMutableDictionary dictionary;
  constexpr int kThreads = 8;
  constexpr int kKeys = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeys; ++k) {
        std::string key = std::to_string(t) + ":" + std::to_string(k);
        dictionary.setObject(platform::Value(k), key);
        EXPECT_EQ(dictionary.objectForKey(key), platform::Value(k));  // own write seen at once
        if (k % 2 == 1) dictionary.removeObjectForKey(key);
        dictionary.count();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(dictionary.count(), static_cast<size_t>(kThreads * kKeys / 2));
  EXPECT_EQ(dictionary.objectForKey("3:10"), platform::Value(10));
}

}  // namespace

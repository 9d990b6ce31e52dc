// ZULMutableDictionary: a dictionary many threads may use at once. Every
// access runs on the dictionary's own serial queue "ZULMutableDictionary":
// reads wait for their answer, writes are queued and return at once. The
// queue is first-in first-out, so a read sees every write issued before it
// from the same thread, and one thread's writes land in the order issued.
//
// Keys and values are platform::Value (any object travels as an opaque
// value); keys are copied, values shared. Reads must not be called from a
// block running on the same dictionary's queue (nothing in here does).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/dispatch/SerialQueue.h"
#include "platform/values/Value.h"

class ZULMutableDictionary {
 public:
  static constexpr const char* kQueueLabel = "ZULMutableDictionary";
  using Map = std::unordered_map<platform::Value, platform::Value, platform::ValueHash>;

  ZULMutableDictionary();

  // Reads.
  std::optional<platform::Value> objectForKey(const platform::Value& key) const;
  std::optional<platform::Value> objectForKeyedSubscript(const platform::Value& key) const { return objectForKey(key); }
  size_t count() const;
  // A snapshot: later writes do not change it.
  Map dictionary() const;
  std::string description() const;

  // Writes.
  void setObject(platform::Value object, const platform::Value& key);
  // None removes the key.
  void setObjectForKeyedSubscript(std::optional<platform::Value> object, const platform::Value& key);
  void removeObjectForKey(const platform::Value& key);
  void removeAllObjects();

 private:
  // Shared with queued writes so they can run after the dictionary is gone.
  std::shared_ptr<Map> m_objects;
  platform::SerialQueue m_queue;
};

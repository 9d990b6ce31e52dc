// RIRMessagingTopicBatch: topics waiting for the same change (action 0
// subscribe, 1 unsubscribe), in the order they were asked for, with the
// completions waiting for each topic. Archived as "action" (integer; any
// value but 1 reads as subscribe) and "topics" (a set of strings);
// completions are never archived.
//
// Thread safety: guarded by the owning RIRMessagingPendingTopicsList.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/values/Error.h"

enum RIRMessagingTopicAction : int64_t {
  RIRMessagingTopicActionSubscribe = 0,
  RIRMessagingTopicActionUnsubscribe = 1,
};

using RIRMessagingTopicOperationCompletion = std::function<void(std::optional<platform::Error> error)>;

class RIRMessagingTopicBatch : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "RIRMessagingTopicBatch";

  explicit RIRMessagingTopicBatch(RIRMessagingTopicAction action) : m_action(action) {}
  static std::shared_ptr<RIRMessagingTopicBatch> initWithCoder(platform::KeyedUnarchiver& coder);

  RIRMessagingTopicAction action() const { return m_action; }
  const std::vector<std::string>& topics() const { return m_topics; }
  bool containsTopic(const std::string& topic) const;
  // False when the topic was there already.
  bool addTopic(const std::string& topic);
  void removeTopic(const std::string& topic);
  std::map<std::string, std::vector<RIRMessagingTopicOperationCompletion>>& topicHandlers() { return m_topicHandlers; }

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;

 private:
  RIRMessagingTopicAction m_action;
  std::vector<std::string> m_topics;
  std::map<std::string, std::vector<RIRMessagingTopicOperationCompletion>> m_topicHandlers;
};

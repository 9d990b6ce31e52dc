#include "sdk/messaging/RIRMessagingTopicBatch.h"

#include <algorithm>

#include "platform/storage/KeyedArchiver.h"

using platform::KeyedArchiver;
using platform::Value;

std::shared_ptr<RIRMessagingTopicBatch> RIRMessagingTopicBatch::initWithCoder(platform::KeyedUnarchiver& coder) {
  const RIRMessagingTopicAction action =
      coder.decodeInteger("action") == RIRMessagingTopicActionUnsubscribe ? RIRMessagingTopicActionUnsubscribe
                                                                           : RIRMessagingTopicActionSubscribe;
  auto batch = std::make_shared<RIRMessagingTopicBatch>(action);
  platform::Result<Value> topics = coder.decodeObject("topics", {KeyedArchiver::kSetClass, KeyedArchiver::kStringClass});
  if (!topics) return nullptr;
  if (auto set = topics->asSet()) {
    for (const Value& topic : platform::Set(*set)) {
      if (const std::string* text = topic.asString()) batch->addTopic(*text);
    }
  }
  return batch;
}

bool RIRMessagingTopicBatch::containsTopic(const std::string& topic) const {
  return std::find(m_topics.begin(), m_topics.end(), topic) != m_topics.end();
}

bool RIRMessagingTopicBatch::addTopic(const std::string& topic) {
  if (containsTopic(topic)) return false;
  m_topics.push_back(topic);
  return true;
}

void RIRMessagingTopicBatch::removeTopic(const std::string& topic) {
  m_topics.erase(std::remove(m_topics.begin(), m_topics.end(), topic), m_topics.end());
}

void RIRMessagingTopicBatch::encodeWith(KeyedArchiver& archiver) const {
  archiver.encodeInteger("action", m_action);
  platform::Set topics;
  for (const std::string& topic : m_topics) topics.insert(Value(topic));
  archiver.encodeObject("topics", Value(topics));
}

#include "sdk/messaging/RIRMessagingPendingTopicsList.h"

#include <algorithm>
#include <mutex>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/net/URLError.h"
#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/time/Clock.h"
#include "sdk/messaging/RIRMessagingLogger.h"

using platform::KeyedArchiver;
using platform::RecursiveLock;
using platform::Value;

namespace {

constexpr long kCodeNoDelegate = 8000;

}  // namespace

void RIRMessagingPendingTopicsList::registerClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::ArchiveClassRegistry::registerClass(
        RIRMessagingTopicBatch::kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
          return RIRMessagingTopicBatch::initWithCoder(coder);
        });
    platform::ArchiveClassRegistry::registerClass(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
          return initWithCoder(coder);
        });
  });
}

std::vector<std::string> RIRMessagingPendingTopicsList::archiveClasses() {
  return {kClassName,
          RIRMessagingTopicBatch::kClassName,
          KeyedArchiver::kArrayClass,
          KeyedArchiver::kSetClass,
          KeyedArchiver::kStringClass,
          KeyedArchiver::kNumberClass,
          KeyedArchiver::kDateClass};
}

std::shared_ptr<RIRMessagingPendingTopicsList> RIRMessagingPendingTopicsList::initWithCoder(
    platform::KeyedUnarchiver& coder) {
  auto list = std::make_shared<RIRMessagingPendingTopicsList>();
  platform::Result<Value> date = coder.decodeObject("ts", {KeyedArchiver::kDateClass});
  if (date && date->isDate()) list->m_archiveDate = *date->asDate();
  platform::Result<Value> batches =
      coder.decodeObject("batches", {KeyedArchiver::kArrayClass, RIRMessagingTopicBatch::kClassName,
                                     KeyedArchiver::kSetClass, KeyedArchiver::kStringClass, KeyedArchiver::kNumberClass});
  if (!batches) return nullptr;
  if (auto array = batches->asArray()) {
    for (const Value& item : platform::Array(*array)) {
      if (auto batch = std::dynamic_pointer_cast<RIRMessagingTopicBatch>(KeyedArchiver::unwrap(item))) {
        list->m_topicBatches.push_back(std::move(batch));
      }
    }
  }
  pruneTopicBatches(list->m_topicBatches);
  return list;
}

void RIRMessagingPendingTopicsList::encodeWith(KeyedArchiver& archiver) const {
  RecursiveLock lock(m_mutex);
  archiver.encodeObject("ts", Value::date(platform::Clock::current()->now()));
  platform::Array batches;
  for (const auto& batch : m_topicBatches) batches.append(KeyedArchiver::wrap(batch));
  archiver.encodeObject("batches", Value(batches));
}

void RIRMessagingPendingTopicsList::pruneTopicBatches(std::vector<std::shared_ptr<RIRMessagingTopicBatch>>& batches) {
  for (size_t index = batches.size(); index-- > 0;) {
    if (!batches[index] || batches[index]->topics().empty()) batches.erase(batches.begin() + static_cast<long>(index));
  }
}

bool RIRMessagingPendingTopicsList::subscriptionErrorIsRecoverable(const platform::Error& error) {
  return platform::URLError::is(error);
}

void RIRMessagingPendingTopicsList::setDelegate(std::weak_ptr<RIRMessagingPendingTopicsListDelegate> delegate) {
  RecursiveLock lock(m_mutex);
  m_delegate = std::move(delegate);
}

size_t RIRMessagingPendingTopicsList::numberOfBatches() const {
  RecursiveLock lock(m_mutex);
  return m_topicBatches.size();
}

std::optional<double> RIRMessagingPendingTopicsList::archiveDate() const {
  RecursiveLock lock(m_mutex);
  return m_archiveDate;
}

std::vector<std::pair<RIRMessagingTopicAction, std::vector<std::string>>> RIRMessagingPendingTopicsList::batchSnapshot()
    const {
  RecursiveLock lock(m_mutex);
  std::vector<std::pair<RIRMessagingTopicAction, std::vector<std::string>>> out;
  for (const auto& batch : m_topicBatches) out.emplace_back(batch->action(), batch->topics());
  return out;
}

std::set<std::string> RIRMessagingPendingTopicsList::topicsInFlight() const {
  RecursiveLock lock(m_mutex);
  return m_topicsInFlight;
}

void RIRMessagingPendingTopicsList::addOperationForTopic(const std::string& topic, RIRMessagingTopicAction action,
                                                         RIRMessagingTopicOperationCompletion completion) {
  RecursiveLock lock(m_mutex);
  std::shared_ptr<RIRMessagingTopicBatch> batch = m_topicBatches.empty() ? nullptr : m_topicBatches.back();
  if (!batch || batch->action() != action) {
    batch = std::make_shared<RIRMessagingTopicBatch>(action);
    m_topicBatches.push_back(batch);
  }
  const bool added = batch->addTopic(topic);
  if (added) {
    if (std::shared_ptr<RIRMessagingPendingTopicsListDelegate> delegate = m_delegate.lock()) {
      delegate->pendingTopicsListDidUpdate(*this);
    }
  }
  if (completion) batch->topicHandlers()[topic].push_back(std::move(completion));
  // The oldest batch goes first, restored ones included.
  bool becameCurrent = false;
  if (!m_currentBatch) {
    m_currentBatch = m_topicBatches.front();
    becameCurrent = true;
  }
  if ((m_currentBatch == batch && added) || becameCurrent) scheduleResume();
}

void RIRMessagingPendingTopicsList::scheduleResume() {
  std::weak_ptr<RIRMessagingPendingTopicsList> weakSelf = weak_from_this();
  platform::globalQueue(platform::Qos::Background).async([weakSelf] {
    if (std::shared_ptr<RIRMessagingPendingTopicsList> self = weakSelf.lock()) self->resumeOperationsIfNeeded();
  });
}

void RIRMessagingPendingTopicsList::resumeOperationsIfNeeded() {
  RecursiveLock lock(m_mutex);
  if (!m_currentBatch && !m_topicBatches.empty()) m_currentBatch = m_topicBatches.front();
  if (!m_currentBatch || m_currentBatch->topics().empty()) return;
  std::shared_ptr<RIRMessagingPendingTopicsListDelegate> delegate = m_delegate.lock();
  if (!delegate) {
    RIRMessagingSharedLogger().logFuncError(kCodeNoDelegate, "Attempted to update pending topics without a delegate");
    return;
  }
  if (!delegate->pendingTopicsListCanRequestTopicUpdates(*this)) return;
  for (const std::string& topic : std::vector<std::string>(m_currentBatch->topics())) {
    if (!m_topicsInFlight.count(topic)) beginUpdateForCurrentBatchTopic(topic);
  }
}

void RIRMessagingPendingTopicsList::beginUpdateForCurrentBatchTopic(const std::string& topic) {
  RIRMessagingTopicAction action;
  std::shared_ptr<RIRMessagingPendingTopicsListDelegate> delegate;
  {
    RecursiveLock lock(m_mutex);
    if (!m_currentBatch) return;
    m_topicsInFlight.insert(topic);
    action = m_currentBatch->action();
    delegate = m_delegate.lock();
  }
  if (!delegate) return;
  std::weak_ptr<RIRMessagingPendingTopicsList> weakSelf = weak_from_this();
  delegate->pendingTopicsList(*this, topic, action, [weakSelf, topic](std::optional<platform::Error> error) {
    platform::globalQueue(platform::Qos::Background).async([weakSelf, topic, error] {
      if (std::shared_ptr<RIRMessagingPendingTopicsList> self = weakSelf.lock()) self->topicDidComplete(topic, error);
    });
  });
}

size_t RIRMessagingPendingTopicsList::completedRequests() const {
  RecursiveLock lock(m_mutex);
  return m_completedRequests;
}

void RIRMessagingPendingTopicsList::topicDidComplete(const std::string& topic, std::optional<platform::Error> error) {
  RecursiveLock lock(m_mutex);
  m_topicsInFlight.erase(topic);
  ++m_completedRequests;
  if (error && subscriptionErrorIsRecoverable(*error)) return;
  if (!m_currentBatch) return;
  std::vector<RIRMessagingTopicOperationCompletion> callbacks;
  auto handlers = m_currentBatch->topicHandlers().find(topic);
  if (handlers != m_currentBatch->topicHandlers().end()) {
    callbacks = std::move(handlers->second);
    m_currentBatch->topicHandlers().erase(handlers);
  }
  m_currentBatch->removeTopic(topic);
  if (m_currentBatch->topics().empty()) {
    m_topicBatches.erase(std::remove(m_topicBatches.begin(), m_topicBatches.end(), m_currentBatch),
                         m_topicBatches.end());
    m_currentBatch.reset();
  }
  // Saved before anyone hears of it: a program that ends right after the
  // completion must not find the topic pending at its next launch.
  if (std::shared_ptr<RIRMessagingPendingTopicsListDelegate> delegate = m_delegate.lock()) {
    delegate->pendingTopicsListDidUpdate(*this);
  }
  if (!callbacks.empty()) {
    platform::mainQueue().async([callbacks = std::move(callbacks), error] {
      for (const auto& callback : callbacks) callback(error);
    });
  }
  scheduleResume();
}

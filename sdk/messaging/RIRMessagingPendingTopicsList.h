// RIRMessagingPendingTopicsList: topic changes asked for by the app, queued
// in request order as batches of one action and worked off while a
// registration token exists. Consecutive requests with the same action
// share a batch; a change of action opens a new one. The current batch is
// sent (each topic once at a time); when its last topic is done it leaves
// the list and the oldest batch becomes current. After a relaunch the
// oldest restored batch becomes current first, so requests go out in the
// order they were made.
//
// The delegate sends (pendingTopicsList(list, topic, action, completion),
// answered exactly once), persists (pendingTopicsListDidUpdate) and says
// whether sending may start (pendingTopicsListCanRequestTopicUpdates). A
// failure of the URL-loading domain keeps the topic and its completions for
// a later resume; any other outcome completes the topic: it leaves the
// batch, the list is persisted, and only then its completions run on the
// main queue with the error or none.
//
// Archive: "ts" (date of archiving) and "batches"; empty batches are
// dropped when read back. Completions are not archived.
//
// Thread safety: every member may be called from any thread; the list is
// its own (recursive) lock; resumes and completions run on the background
// global queue; delegate calls are made with the lock held.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/RecursiveMutex.h"
#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/messaging/RIRMessagingTopicBatch.h"

class RIRMessagingPendingTopicsList;

class RIRMessagingPendingTopicsListDelegate {
 public:
  virtual ~RIRMessagingPendingTopicsListDelegate() = default;
  virtual void pendingTopicsList(RIRMessagingPendingTopicsList& list, const std::string& requestedUpdateForTopic,
                                 RIRMessagingTopicAction action, RIRMessagingTopicOperationCompletion completion) = 0;
  virtual void pendingTopicsListDidUpdate(RIRMessagingPendingTopicsList& list) = 0;
  virtual bool pendingTopicsListCanRequestTopicUpdates(RIRMessagingPendingTopicsList& list) = 0;
};

class RIRMessagingPendingTopicsList : public platform::Archivable,
                                      public std::enable_shared_from_this<RIRMessagingPendingTopicsList> {
 public:
  static constexpr const char* kClassName = "RIRMessagingPendingTopicsList";

  RIRMessagingPendingTopicsList() = default;
  static std::shared_ptr<RIRMessagingPendingTopicsList> initWithCoder(platform::KeyedUnarchiver& coder);
  // Registers the decoders of the list and its batches (idempotent).
  static void registerClasses();
  // The classes an archive of the list may contain.
  static std::vector<std::string> archiveClasses();

  void setDelegate(std::weak_ptr<RIRMessagingPendingTopicsListDelegate> delegate);
  size_t numberOfBatches() const;
  void addOperationForTopic(const std::string& topic, RIRMessagingTopicAction action,
                            RIRMessagingTopicOperationCompletion completion);
  void resumeOperationsIfNeeded();
  void beginUpdateForCurrentBatchTopic(const std::string& topic);
  static bool subscriptionErrorIsRecoverable(const platform::Error& error);
  static void pruneTopicBatches(std::vector<std::shared_ptr<RIRMessagingTopicBatch>>& batches);

  std::optional<double> archiveDate() const;
  // (action, topics) of each batch, oldest first.
  std::vector<std::pair<RIRMessagingTopicAction, std::vector<std::string>>> batchSnapshot() const;
  std::set<std::string> topicsInFlight() const;
  // How many topic requests have reported back so far (diagnostics).
  size_t completedRequests() const;

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;

 private:
  void topicDidComplete(const std::string& topic, std::optional<platform::Error> error);
  void scheduleResume();

  mutable platform::RecursiveMutex m_mutex;
  std::weak_ptr<RIRMessagingPendingTopicsListDelegate> m_delegate;
  std::optional<double> m_archiveDate;
  std::vector<std::shared_ptr<RIRMessagingTopicBatch>> m_topicBatches;
  std::shared_ptr<RIRMessagingTopicBatch> m_currentBatch;
  std::set<std::string> m_topicsInFlight;
  size_t m_completedRequests = 0;
};

// ZDTCCTUploader: uploads the stored events of targets 1000 to 1003.
//
// Each request of the upload coordinator (uploadTarget) becomes one
// ZDTCCTUploadOperation on an operation queue that runs one at a time; its
// promise steps run on the serial queue "com.zoruvu.ZDTCCTUploader". The
// operation's target storage and metrics controller come from the registrar,
// its address from ZDTCOREndpoints. When an operation has really sent a
// request, every operation still waiting, of any target, is cancelled (the
// next timer tick queues afresh).
//
// The uploader is the operations' metadata provider: it keeps, per target,
// the earliest time of the next unforced upload (in memory only, empty at
// every launch), and answers the API key of targets 1001 to 1003.
//
// Thread safety: every member may be called from any thread; the next-upload
// map is guarded by a lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/OperationQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "sdk/transport/ZDTCCTUploadOperation.h"
#include "sdk/transport/ZDTCORApplication.h"
#include "sdk/transport/ZDTCORUploader.h"

class ZDTCORRegistrar;

class ZDTCCTUploader : public ZDTCORUploader,
                       public ZDTCCTUploadMetadataProvider,
                       public std::enable_shared_from_this<ZDTCCTUploader> {
 public:
  // The targets the shared uploader is registered for, in order.
  static constexpr int64_t kTargets[] = {1000, 1001, 1002, 1003};

  // Registers the shared uploader (registration).
  static void load();
  static std::shared_ptr<ZDTCCTUploader> sharedInstance();

  // The shared uploader uses the shared registrar and adapter; tests pass
  // their own. The registrar is held weakly: it holds the uploader.
  ZDTCCTUploader(std::shared_ptr<ZDTCORRegistrar> registrar, std::shared_ptr<ZDTCORApplicationProtocol> application);

  void uploadTarget(int64_t target, ZDTCORUploadConditions conditions) override;
  // Queues the operation uploadTarget makes and answers it; nullptr (logged)
  // when the target has no storage.
  std::shared_ptr<ZDTCCTUploadOperation> scheduleUploadOfTarget(int64_t target, ZDTCORUploadConditions conditions);

  // The target's address (ZDTCOREndpoints), "" when it has none.
  static std::string serverURLForTarget(int64_t target);
  // Kept for callers that set one; uploads never use it.
  static void setTestServerURL(std::optional<std::string> url);
  static std::optional<std::string> testServerURL();

  std::optional<ZDTCORClock> nextUploadTimeForTarget(int64_t target) override;
  void setNextUploadTime(std::optional<ZDTCORClock> time, int64_t target) override;
  std::optional<std::string> APIKeyForTarget(int64_t target) override;

  platform::OperationQueue& uploadOperationQueue() { return m_operationQueue; }
  const platform::SerialQueue& uploadQueue() const { return m_uploadQueue; }

 private:
  std::weak_ptr<ZDTCORRegistrar> m_registrar;
  std::shared_ptr<ZDTCORApplicationProtocol> m_application;
  platform::OperationQueue m_operationQueue{1};
  platform::SerialQueue m_uploadQueue;
  std::mutex m_nextUploadMutex;
  std::map<int64_t, ZDTCORClock> m_nextUploadTimeByTarget;
};

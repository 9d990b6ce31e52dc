// HeartbeatStorage: loads, transforms and saves one identifier's heartbeat
// bundle, every step on the serial queue "com.heartbeat.storage." + id.
//
// A missing, unreadable, empty or undecodable file is no bundle: the
// transform receives none and its result is written back (replacing a
// corrupt file). An absent result is written as an empty file.
//   updateSync / updateAsync  save failures are dropped.
//   swapSync                  returns the loaded bundle, or the save error.
//   swapAsync                 the same through the completion, on the queue.
// Transforms run on the queue; the sync forms block the caller and must not
// be called from the queue.
//
// sharedInstance(id) returns the one live instance of an identifier in the
// process (a table of weak references under a mutex), so every controller of
// an identifier writes its file through the same queue. A destroyed instance
// removes its table entry only while the entry still names it, so an
// instance created meanwhile for the same identifier stays the only one.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/dispatch/SerialQueue.h"
#include "sdk/core/HeartbeatStorageBackend.h"
#include "sdk/core/HeartbeatsBundle.h"

namespace RirivuduCoreInternal {

using HeartbeatsBundleTransform = std::function<std::optional<HeartbeatsBundle>(std::optional<HeartbeatsBundle>)>;
// The bundle loaded before the transform, or the save failure.
using HeartbeatsSwapResult = std::variant<std::optional<HeartbeatsBundle>, StorageError>;

class HeartbeatStorageProtocol {
 public:
  virtual ~HeartbeatStorageProtocol() = default;
  virtual void updateSync(const HeartbeatsBundleTransform& transform) = 0;
  virtual void updateAsync(HeartbeatsBundleTransform transform) = 0;
  virtual HeartbeatsSwapResult swapSync(const HeartbeatsBundleTransform& transform) = 0;
  virtual void swapAsync(HeartbeatsBundleTransform transform,
                         std::function<void(HeartbeatsSwapResult)> completion) = 0;
};

class HeartbeatStorage : public HeartbeatStorageProtocol,
                         public std::enable_shared_from_this<HeartbeatStorage> {
 public:
  static constexpr const char* kQueueLabelPrefix = "com.heartbeat.storage.";

  HeartbeatStorage(std::string id, std::unique_ptr<Storage> storage);
  ~HeartbeatStorage() override;

  static std::shared_ptr<HeartbeatStorage> sharedInstance(const std::string& id);

  const std::string& id() const { return m_id; }
  const platform::SerialQueue& queue() const { return m_queue; }

  void updateSync(const HeartbeatsBundleTransform& transform) override;
  void updateAsync(HeartbeatsBundleTransform transform) override;
  HeartbeatsSwapResult swapSync(const HeartbeatsBundleTransform& transform) override;
  void swapAsync(HeartbeatsBundleTransform transform, std::function<void(HeartbeatsSwapResult)> completion) override;

  // Tests: puts `instance` into the shared table under `id`, as a concurrent
  // sharedInstance would after the previous instance's last reference went.
  static void setSharedInstanceForTesting(const std::string& id, const std::shared_ptr<HeartbeatStorage>& instance);

 private:
  // On the queue.
  std::optional<HeartbeatsBundle> loadBundle();
  std::optional<StorageError> saveBundle(const std::optional<HeartbeatsBundle>& bundle);
  HeartbeatsSwapResult swap(const HeartbeatsBundleTransform& transform);

  std::string m_id;
  std::unique_ptr<Storage> m_storage;
  platform::SerialQueue m_queue;
};

}  // namespace RirivuduCoreInternal

// RIRInstallationsSingleOperationPromiseCache: at most one operation of a
// kind in flight. getExistingPendingOrCreateNewPromise() returns the pending
// promise, or starts the operation and keeps its promise until it settles.
//
// Thread safety: any thread; the pending promise is guarded by a lock, and
// the handler runs under it (it must only start work, never wait for it).
#pragma once

#include <functional>
#include <mutex>

#include "sdk/promises/RBLPromise.h"

class RIRInstallationsSingleOperationPromiseCache
    : public std::enable_shared_from_this<RIRInstallationsSingleOperationPromiseCache> {
 public:
  using Handler = std::function<RBLPromisePtr()>;

  // An empty handler raises NSInvalidArgumentException
  // "`newOperationHandler` must not be `nil`.".
  explicit RIRInstallationsSingleOperationPromiseCache(Handler newOperationHandler);

  RBLPromisePtr getExistingPendingOrCreateNewPromise();
  RBLPromisePtr getExistingPendingPromise();

 private:
  Handler m_newOperationHandler;
  std::recursive_mutex m_mutex;
  RBLPromisePtr m_pendingPromise;
};

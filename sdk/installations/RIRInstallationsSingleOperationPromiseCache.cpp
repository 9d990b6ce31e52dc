#include "sdk/installations/RIRInstallationsSingleOperationPromiseCache.h"

#include "platform/values/Exception.h"

RIRInstallationsSingleOperationPromiseCache::RIRInstallationsSingleOperationPromiseCache(Handler newOperationHandler)
    : m_newOperationHandler(std::move(newOperationHandler)) {
  if (!m_newOperationHandler) {
    platform::Exception::raise(platform::Exception::kInvalidArgumentException,
                               "`newOperationHandler` must not be `nil`.");
  }
}

RBLPromisePtr RIRInstallationsSingleOperationPromiseCache::getExistingPendingOrCreateNewPromise() {
  std::lock_guard lock(m_mutex);
  if (m_pendingPromise) return m_pendingPromise;
  RBLPromisePtr promise = m_newOperationHandler();
  m_pendingPromise = promise;
  std::weak_ptr<RIRInstallationsSingleOperationPromiseCache> weak = weak_from_this();
  auto clear = [weak, promise] {
    if (auto self = weak.lock()) {
      std::lock_guard lock(self->m_mutex);
      if (self->m_pendingPromise == promise) self->m_pendingPromise = nullptr;
    }
  };
  promise->observeOnQueue(
      RBLPromise::defaultDispatchQueue(), [clear](const platform::Value&) { clear(); },
      [clear](const platform::Error&) { clear(); });
  return promise;
}

RBLPromisePtr RIRInstallationsSingleOperationPromiseCache::getExistingPendingPromise() {
  std::lock_guard lock(m_mutex);
  return m_pendingPromise;
}

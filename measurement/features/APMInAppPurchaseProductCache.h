// APMInAppPurchaseProductCache: the purchase store's product information by
// product identifier, shared by the transaction reporter's version-1 and
// version-2 paths. One process-wide instance.
//
//   cachedProductForProductIdentifier  the cached product, read synchronously
//                                      on the lock queue; none when unknown.
//   requestProductsWithProductIdentifiers
//       asks the store (APMProductsRequest) and, on its answer, updates the
//       cache on the lock queue, then calls the handler on the given queue
//       with the valid products, the invalid identifiers and the error.
//       Without identifiers or handler nothing happens.
//
// Update rule, per answer: its valid products are added (and leave the
// invalid set), its invalid identifiers leave the valid products and join
// the invalid set. When the cache then holds more than kMaxEntries
// identifiers (valid and invalid together), it keeps the answer's alone.
//
// Thread safety: every member may be called from any thread except the lock
// queue "com.zoruvu.vod.measurement.iap-cache" itself.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "measurement/base/APMProductsRequest.h"
#include "platform/app/PurchaseStore.h"
#include "platform/dispatch/SerialQueue.h"

class APMInAppPurchaseProductCache {
 public:
  static constexpr const char* kLockQueueLabel = "com.zoruvu.vod.measurement.iap-cache";
  static constexpr size_t kMaxEntries = 100;

  static std::shared_ptr<APMInAppPurchaseProductCache> sharedInstance();
  APMInAppPurchaseProductCache();

  std::optional<platform::Product> cachedProductForProductIdentifier(const std::string& productIdentifier) const;
  void requestProductsWithProductIdentifiers(const std::set<std::string>& productIdentifiers,
                                             const std::optional<platform::DispatchQueue>& queue,
                                             APMProductsRequest::CompletionHandler completionHandler);

  // What the cache holds (tests).
  size_t validProductCount() const;
  std::set<std::string> invalidProductIdentifiers() const;
  // Empties the shared cache (tests).
  void removeAllForTesting();

 private:
  void updateWithProducts(const APMProductsRequest::Products& products,
                          const APMProductsRequest::InvalidIdentifiers& invalidIdentifiers);

  const platform::SerialQueue m_lockQueue;
  // Lock queue only.
  std::map<std::string, platform::Product> m_validProducts;
  std::set<std::string> m_invalidProductIdentifiers;
};

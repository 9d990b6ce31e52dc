#include "measurement/features/APMInAppPurchaseProductCache.h"

#include <utility>

std::shared_ptr<APMInAppPurchaseProductCache> APMInAppPurchaseProductCache::sharedInstance() {
  static const auto* const shared =
      new std::shared_ptr<APMInAppPurchaseProductCache>(std::make_shared<APMInAppPurchaseProductCache>());
  return *shared;
}

APMInAppPurchaseProductCache::APMInAppPurchaseProductCache() : m_lockQueue(kLockQueueLabel) {}

std::optional<platform::Product> APMInAppPurchaseProductCache::cachedProductForProductIdentifier(
    const std::string& productIdentifier) const {
  std::optional<platform::Product> product;
  m_lockQueue.sync([&] {
    if (auto it = m_validProducts.find(productIdentifier); it != m_validProducts.end()) product = it->second;
  });
  return product;
}

void APMInAppPurchaseProductCache::requestProductsWithProductIdentifiers(
    const std::set<std::string>& productIdentifiers, const std::optional<platform::DispatchQueue>& queue,
    APMProductsRequest::CompletionHandler completionHandler) {
  if (productIdentifiers.empty() || !completionHandler || !queue) return;
  // The cache lives for the process, so the answer may hold it plainly.
  APMProductsRequest::requestProductsWithProductIdentifiers(
      productIdentifiers, m_lockQueue,
      [this, queue = *queue, completionHandler = std::move(completionHandler)](
          const std::optional<APMProductsRequest::Products>& products,
          const std::optional<APMProductsRequest::InvalidIdentifiers>& invalid,
          const std::optional<platform::Error>& error) {
        updateWithProducts(products.value_or(APMProductsRequest::Products{}),
                           invalid.value_or(APMProductsRequest::InvalidIdentifiers{}));
        queue.async([completionHandler, products, invalid, error] { completionHandler(products, invalid, error); });
      });
}

void APMInAppPurchaseProductCache::updateWithProducts(const APMProductsRequest::Products& products,
                                                      const APMProductsRequest::InvalidIdentifiers& invalid) {
  for (const auto& [identifier, product] : products) {
    m_validProducts[identifier] = product;
    m_invalidProductIdentifiers.erase(identifier);
  }
  for (const std::string& identifier : invalid) {
    m_validProducts.erase(identifier);
    m_invalidProductIdentifiers.insert(identifier);
  }
  if (m_validProducts.size() + m_invalidProductIdentifiers.size() > kMaxEntries) {
    m_validProducts = products;
    m_invalidProductIdentifiers = invalid;
  }
}

size_t APMInAppPurchaseProductCache::validProductCount() const {
  size_t count = 0;
  m_lockQueue.sync([&] { count = m_validProducts.size(); });
  return count;
}

std::set<std::string> APMInAppPurchaseProductCache::invalidProductIdentifiers() const {
  std::set<std::string> invalid;
  m_lockQueue.sync([&] { invalid = m_invalidProductIdentifiers; });
  return invalid;
}

void APMInAppPurchaseProductCache::removeAllForTesting() {
  m_lockQueue.sync([this] {
    m_validProducts.clear();
    m_invalidProductIdentifiers.clear();
  });
}

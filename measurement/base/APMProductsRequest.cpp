#include "measurement/base/APMProductsRequest.h"

#include <vector>

#include "measurement/base/APMError.h"
#include "platform/dispatch/ConcurrentQueue.h"

void APMProductsRequest::requestProductsWithProductIdentifiers(const std::set<std::string>& productIdentifiers,
                                                               const std::optional<platform::DispatchQueue>& queue,
                                                               CompletionHandler completionHandler) {
  if (!queue || !completionHandler) return;
  std::shared_ptr<APMProductsRequest> request = initWithProductIdentifiers(productIdentifiers);
  if (!request) {
    queue->async([completionHandler] {
      completionHandler(std::nullopt, std::nullopt, apm_errorWithCode(1, "Invalid product identifiers."));
    });
    return;
  }
  // The wrapping handler holds the request until its answer was delivered.
  request->requestWithQueue(queue, [request, completionHandler](const std::optional<Products>& products,
                                                                const std::optional<InvalidIdentifiers>& invalid,
                                                                const std::optional<platform::Error>& error) {
    completionHandler(products, invalid, error);
  });
}

std::shared_ptr<APMProductsRequest> APMProductsRequest::initWithProductIdentifiers(
    const std::set<std::string>& identifiers) {
  std::shared_ptr<platform::PurchaseStore> store = platform::PurchaseStore::current();
  if (!store) return nullptr;
  return std::shared_ptr<APMProductsRequest>(new APMProductsRequest(std::move(store), identifiers));
}

APMProductsRequest::APMProductsRequest(std::shared_ptr<platform::PurchaseStore> store, std::set<std::string> identifiers)
    : m_productsRequest(std::move(store)), m_identifiers(std::move(identifiers)) {}

void APMProductsRequest::requestWithQueue(const std::optional<platform::DispatchQueue>& queue,
                                          CompletionHandler completionHandler) {
  if (!queue || !completionHandler) return;
  std::shared_ptr<platform::PurchaseStore> store;
  {
    std::lock_guard lock(m_mutex);
    m_completionHandler = std::move(completionHandler);
    m_queue = queue;
    store = m_productsRequest;
  }
  if (!store) return;
  std::weak_ptr<APMProductsRequest> weak = weak_from_this();
  store->requestProducts(std::vector<std::string>(m_identifiers.begin(), m_identifiers.end()),
                         platform::globalQueue(platform::Qos::Utility),
                         [weak](const platform::ProductsResponse& response, const std::optional<platform::Error>& error) {
                           std::shared_ptr<APMProductsRequest> strong = weak.lock();
                           if (!strong) return;
                           if (error) {
                             strong->requestDidFailWithError(*error);
                           } else {
                             strong->productsRequestDidReceiveResponse(response);
                           }
                         });
}

void APMProductsRequest::productsRequestDidReceiveResponse(const platform::ProductsResponse& response) {
  std::optional<platform::DispatchQueue> queue;
  {
    std::lock_guard lock(m_mutex);
    if (!m_completionHandler || !m_queue) return;
    queue = m_queue;
  }
  Products products;
  for (const platform::Product& product : response.products) {
    if (product.productIdentifier.empty()) continue;
    products[product.productIdentifier] = product;
  }
  InvalidIdentifiers invalid(response.invalidProductIdentifiers.begin(), response.invalidProductIdentifiers.end());
  std::weak_ptr<APMProductsRequest> weak = weak_from_this();
  queue->async([weak, products = std::move(products), invalid = std::move(invalid)] {
    std::shared_ptr<APMProductsRequest> strong = weak.lock();
    if (!strong) return;
    CompletionHandler handler;
    {
      std::lock_guard lock(strong->m_mutex);
      handler = strong->m_completionHandler;
    }
    if (handler) handler(products, invalid, std::nullopt);
    strong->clearInstance();
  });
}

void APMProductsRequest::requestDidFailWithError(const platform::Error& error) {
  std::optional<platform::DispatchQueue> queue;
  {
    std::lock_guard lock(m_mutex);
    if (!m_completionHandler || !m_queue) return;
    queue = m_queue;
  }
  std::weak_ptr<APMProductsRequest> weak = weak_from_this();
  queue->async([weak, error] {
    std::shared_ptr<APMProductsRequest> strong = weak.lock();
    if (!strong) return;
    CompletionHandler handler;
    {
      std::lock_guard lock(strong->m_mutex);
      handler = strong->m_completionHandler;
    }
    if (handler) handler(std::nullopt, std::nullopt, error);
    strong->clearInstance();
  });
}

void APMProductsRequest::clearInstance() {
  CompletionHandler released;
  {
    std::lock_guard lock(m_mutex);
    m_productsRequest.reset();
    released = std::move(m_completionHandler);
    m_completionHandler = nullptr;
    m_queue.reset();
  }
  // The handler (and the request it may hold) is released outside the lock.
}

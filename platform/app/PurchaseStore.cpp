#include "platform/app/PurchaseStore.h"

#include <algorithm>
#include <mutex>

#include "platform/app/FakePurchaseStore.h"
#include "platform/app/NullPurchaseStore.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/runtime/Immortal.h"

namespace platform {

namespace {
std::mutex g_mutex;
platform::Immortal<std::shared_ptr<PurchaseStore>> g_storeSlot;
std::shared_ptr<PurchaseStore>& g_store = *g_storeSlot;
}  // namespace

std::shared_ptr<PurchaseStore> PurchaseStore::current() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!g_store) g_store = std::make_shared<NullPurchaseStore>();
  return g_store;
}

void PurchaseStore::setCurrent(std::shared_ptr<PurchaseStore> store) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_store = std::move(store);
}

void NullPurchaseStore::requestProducts(std::vector<std::string> identifiers, DispatchQueue queue,
                                        ProductsHandler handler) {
  if (!handler) return;
  queue.async([identifiers = std::move(identifiers), handler = std::move(handler)] {
    ProductsResponse response;
    response.invalidProductIdentifiers = identifiers;
    handler(response, std::nullopt);
  });
}

void FakePurchaseStore::addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) {
  if (!observer) return;
  std::lock_guard<std::mutex> guard(m_mutex);
  for (const auto& weak : m_observers) {
    if (weak.lock() == observer) return;
  }
  m_observers.push_back(observer);
}

void FakePurchaseStore::removeTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) {
  std::lock_guard<std::mutex> guard(m_mutex);
  std::erase_if(m_observers, [&](const auto& weak) {
    auto strong = weak.lock();
    return !strong || strong == observer;
  });
}

void FakePurchaseStore::requestProducts(std::vector<std::string> identifiers, DispatchQueue queue,
                                        ProductsHandler handler) {
  ProductsResponse response;
  std::optional<Error> error;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_requests.push_back(identifiers);
    if (m_nextError) {
      error = std::exchange(m_nextError, std::nullopt);
    } else {
      for (const auto& id : identifiers) {
        if (auto it = m_products.find(id); it != m_products.end()) {
          response.products.push_back(it->second);
        } else {
          response.invalidProductIdentifiers.push_back(id);
        }
      }
    }
  }
  if (!handler) return;
  queue.async([response = std::move(response), error = std::move(error), handler = std::move(handler)] {
    handler(response, error);
  });
}

std::optional<std::string> FakePurchaseStore::receiptPath() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_receipt;
}

void FakePurchaseStore::addProduct(Product product) {
  std::lock_guard<std::mutex> guard(m_mutex);
  std::string id = product.productIdentifier;
  m_products[id] = std::move(product);
}

void FakePurchaseStore::failNextRequest(Error error) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_nextError = std::move(error);
}

void FakePurchaseStore::reportTransactions(std::vector<PaymentTransaction> transactions) {
  std::vector<std::weak_ptr<PaymentTransactionObserver>> observers;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    observers = m_observers;
  }
  mainQueue().async([observers = std::move(observers), transactions = std::move(transactions)] {
    for (const auto& weak : observers) {
      if (auto observer = weak.lock()) observer->updatedTransactions(transactions);
    }
  });
}

void FakePurchaseStore::setReceiptPath(std::optional<std::string> path) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_receipt = std::move(path);
}

std::vector<std::vector<std::string>> FakePurchaseStore::requests() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_requests;
}

size_t FakePurchaseStore::observerCount() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return static_cast<size_t>(std::count_if(m_observers.begin(), m_observers.end(),
                                           [](const auto& weak) { return !weak.expired(); }));
}

}  // namespace platform

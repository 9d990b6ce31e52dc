// FakePurchaseStore: a scriptable store for tests.
//
// addProduct() makes an identifier valid; failNextRequest(error) makes the
// next product request answer with that error (and no products);
// requests() lists the identifier sets asked for. reportTransactions()
// delivers an update to every live observer on the main queue (pump it).
// setReceiptPath() sets the receipt.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <map>
#include <mutex>

#include "platform/app/PurchaseStore.h"

namespace platform {

class FakePurchaseStore : public PurchaseStore {
 public:
  void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) override;
  void removeTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) override;
  void requestProducts(std::vector<std::string> identifiers, DispatchQueue queue,
                       ProductsHandler handler) override;
  std::optional<std::string> receiptPath() const override;

  void addProduct(Product product);
  void failNextRequest(Error error);
  void reportTransactions(std::vector<PaymentTransaction> transactions);
  void setReceiptPath(std::optional<std::string> path);
  std::vector<std::vector<std::string>> requests() const;
  size_t observerCount() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::weak_ptr<PaymentTransactionObserver>> m_observers;
  std::map<std::string, Product> m_products;
  std::optional<Error> m_nextError;
  std::optional<std::string> m_receipt;
  std::vector<std::vector<std::string>> m_requests;
};

}  // namespace platform

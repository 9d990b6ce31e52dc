// NullPurchaseStore: the store of a platform without one. Observers are
// accepted and never called; every requested identifier comes back invalid
// (asynchronously on the given queue); there is no receipt.
// Thread safety: stateless.
#pragma once

#include "platform/app/PurchaseStore.h"

namespace platform {

class NullPurchaseStore : public PurchaseStore {
 public:
  void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>&) override {}
  void removeTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>&) override {}
  void requestProducts(std::vector<std::string> identifiers, DispatchQueue queue,
                       ProductsHandler handler) override;
  std::optional<std::string> receiptPath() const override { return std::nullopt; }
};

}  // namespace platform

// PurchaseStore: the in-app purchase store behind an interface.
//
// Transaction observers hear every transaction update the store reports,
// on the main queue; they are held weakly (a destroyed observer is skipped).
// requestProducts(identifiers, queue, handler) answers once, asynchronously
// on `queue`, with the valid products and the invalid identifiers, or with
// an error. receiptPath() is the local receipt file, none when there is no
// receipt.
//
// Implementations: NullPurchaseStore (this platform has no store: never
// reports transactions, every identifier invalid, no receipt) and
// FakePurchaseStore (tests). The process-wide instance defaults to the null
// store.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/values/Error.h"

namespace platform {

enum class PaymentTransactionState { Purchasing, Purchased, Failed, Restored, Deferred };

struct Payment {
  std::string productIdentifier;
  int64_t quantity = 1;
};

struct PaymentTransaction {
  PaymentTransactionState state = PaymentTransactionState::Purchasing;
  std::optional<std::string> transactionIdentifier;
  std::optional<std::string> originalTransactionIdentifier;
  std::optional<double> transactionDate;  // seconds since 1970
  Payment payment;
  std::optional<int64_t> errorCode;
};

enum class ProductDiscountPaymentMode { PayAsYouGo, PayUpFront, FreeTrial };

struct ProductDiscount {
  std::string price;  // decimal text, e.g. "0.99"
  ProductDiscountPaymentMode paymentMode = ProductDiscountPaymentMode::PayAsYouGo;
};

struct Product {
  std::string productIdentifier;
  std::string price;  // decimal text, e.g. "4.99"
  std::string priceLocaleCurrencyCode;
  std::string localizedTitle;
  std::optional<ProductDiscount> introductoryPrice;
};

struct ProductsResponse {
  std::vector<Product> products;
  std::vector<std::string> invalidProductIdentifiers;
};

using ProductsHandler = std::function<void(const ProductsResponse&, const std::optional<Error>&)>;

class PaymentTransactionObserver {
 public:
  virtual ~PaymentTransactionObserver() = default;
  virtual void updatedTransactions(const std::vector<PaymentTransaction>& transactions) = 0;
};

class PurchaseStore {
 public:
  virtual ~PurchaseStore() = default;

  virtual void addTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) = 0;
  virtual void removeTransactionObserver(const std::shared_ptr<PaymentTransactionObserver>& observer) = 0;
  virtual void requestProducts(std::vector<std::string> identifiers, DispatchQueue queue,
                               ProductsHandler handler) = 0;
  virtual std::optional<std::string> receiptPath() const = 0;

  static std::shared_ptr<PurchaseStore> current();
  // nullptr restores the null store.
  static void setCurrent(std::shared_ptr<PurchaseStore> store);
};

}  // namespace platform

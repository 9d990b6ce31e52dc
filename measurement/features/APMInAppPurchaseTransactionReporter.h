// APMInAppPurchaseTransactionReporter: turns purchase-store transactions into
// internal "_iap" events (origin "auto", through the services seam's internal
// event logger). One process-wide instance.
//
// Two roads lead in:
//  - version 1, the analytics front's payment observer, after the engine's
//    duplicate filter: paymentQueueUpdatedFilteredTransactions keeps the
//    purchased transactions with a product identifier, asks the product
//    cache for the products it lacks, and reports them on a global queue
//    (reportTransactionsFromArray);
//  - version 2, the public logTransaction call: reportTransactionWithProductID
//    records a verified transaction's own facts as a purchase record, looks
//    its product up (cached, else requested) and reports it on a global queue.
//
// Parameters (eventForTransactionWithProduct): "product_id"; "price", the
// store's decimal price x 1,000,000 exactly; with a quantity, "value" (price x
// quantity in millionths, rounded half away from zero) and "quantity";
// "currency"; "product_name". A price or value whose millionths do not fit a
// signed 64-bit integer is missing, and without "price", "value", "currency"
// or "product_id" there is no event. A purchase record with the transaction's
// identifier classifies it: a subscription gets "subscription" = 1; an
// auto-renewable one also "_did" (the record's purchase key), "free_trial" or
// "price_is_discounted", and, when it renews an earlier period of the same
// original transaction, the mark the record before it decides: after a free
// trial a conversion ("_assc"), else a renewal ("_assr"). A transaction
// without a record (every version-1 transaction: there is no receipt to read
// records from) gets no subscription marks. Then the discounts, "sandbox"
// (environment "sandbox" or "xcode", or a sandbox receipt: APMAEU::isASRS),
// "validated" for a verified version-2 transaction, and "_skv".
//
// Purchase records: newest first, at most kMaxPurchaseItems (the oldest go);
// a version-1 batch forgets them all once reported.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "measurement/features/APMInAppPurchaseItem.h"
#include "measurement/features/APMInAppPurchaseProductCache.h"
#include "platform/app/PurchaseStore.h"
#include "platform/values/Value.h"

class APMInAppPurchaseTransactionReporter : public std::enable_shared_from_this<APMInAppPurchaseTransactionReporter> {
 public:
  static constexpr size_t kMaxPurchaseItems = 100;

  // An event to log: its name and parameters.
  struct Event {
    std::string name;
    platform::Dictionary parameters;
  };

  static std::shared_ptr<APMInAppPurchaseTransactionReporter> sharedInstance();
  // A reporter on the given product cache (tests); the shared one uses the
  // shared cache.
  explicit APMInAppPurchaseTransactionReporter(std::shared_ptr<APMInAppPurchaseProductCache> productCache);

  // --- version 1 ------------------------------------------------------------------------
  void paymentQueueUpdatedFilteredTransactions(const std::vector<platform::PaymentTransaction>& transactions);
  void reportTransactionsFromArray(const std::vector<platform::PaymentTransaction>& transactions);

  // --- version 2 ------------------------------------------------------------------------
  void reportTransactionWithProductID(const std::string& productID, const std::string& transactionID,
                                      const std::string& originalTransactionID,
                                      const std::optional<std::string>& webOrderLineItemID, int64_t productType,
                                      bool isFreeTrial, bool isIntroductoryOffer, int64_t paymentQuantity,
                                      std::optional<double> purchaseDate, std::optional<double> originalPurchaseDate,
                                      std::optional<double> subscriptionExpirationDate,
                                      std::optional<double> cancellationDate,
                                      const std::optional<std::string>& environment, bool isVerified);

  // --- one transaction ------------------------------------------------------------------
  // Builds the event and logs it; NO when there is none.
  bool reportTransactionWithProduct(const std::optional<platform::Product>& product,
                                    std::optional<int64_t> paymentQuantity,
                                    const std::optional<std::string>& transactionIdentifier,
                                    const std::optional<std::string>& originalTransactionIdentifier,
                                    std::optional<double> transactionDate, bool verifyReceipt,
                                    const std::optional<std::string>& environment,
                                    const std::string& storeVersion);
  std::optional<Event> eventForTransactionWithProduct(const std::optional<platform::Product>& product,
                                                      std::optional<int64_t> paymentQuantity,
                                                      const std::optional<std::string>& transactionIdentifier,
                                                      bool verifyReceipt,
                                                      const std::optional<std::string>& environment,
                                                      const std::string& storeVersion);

  // The de-duplication key of a purchased transaction: the MD5 hex text of
  // its identifier; none (with a line) without a transaction or a usable
  // identifier, and for any other state.
  static std::optional<std::string> transactionFingerprint(const platform::PaymentTransaction* transaction);

  std::vector<APMInAppPurchaseItem> allPurchaseItems() const;
  void removeAllPurchaseItems();

 private:
  // The subscription marks of the transaction's purchase record, if any.
  platform::Dictionary classificationMarksForTransactionID(const std::string& transactionID) const;
  void reportOnGlobalQueue(std::function<void(APMInAppPurchaseTransactionReporter&)> block);
  // Asks the cache for the products and hands the answer on, unless the
  // reporter is gone or the answer is an error without products (21027).
  void requestProducts(
      const std::set<std::string>& identifiers,
      std::function<void(APMInAppPurchaseTransactionReporter&, const APMProductsRequest::Products&)> then);

  const std::shared_ptr<APMInAppPurchaseProductCache> m_productCache;
  mutable std::mutex m_mutex;
  std::vector<APMInAppPurchaseItem> m_allPurchaseItems;  // newest first
};

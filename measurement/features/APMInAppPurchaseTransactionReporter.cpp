#include "measurement/features/APMInAppPurchaseTransactionReporter.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "measurement/base/APMAEU.h"
#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDecimal.h"
#include "measurement/base/APMEngineServices.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/text/Unicode.h"

using platform::Dictionary;
using platform::Value;

namespace {

APMMonitor& monitor() { return *APMEngineServices::monitor(); }

bool isPresent(const std::optional<std::string>& text) { return text && !text->empty(); }

// A decimal price text times `quantity`, in millionths of the currency unit;
// none for a text that is no decimal number or a result beyond 64 bits.
std::optional<int64_t> millionths(const std::string& priceText, int64_t quantity) {
  std::optional<APMDecimal> price = APMDecimalNumberFromString(priceText);
  if (!price) return std::nullopt;
  return price->roundedInt64(quantity, 6);
}

bool hasMark(const Dictionary& parameters, const char* name) {
  const Value mark = parameters.get(name);
  return mark.isInteger() && mark.longLongValue() == 1;
}

// A free purchase: it costs nothing, at the price it would have cost.
void applyFreeTrial(Dictionary& parameters) {
  if (parameters.contains("price")) parameters.set("original_price", parameters.get("price"));
  parameters.set("price_is_discounted", int64_t{1});
  parameters.set("price", int64_t{0});
  parameters.set("value", int64_t{0});
}

int64_t webOrderLineItemNumber(const std::optional<std::string>& text) {
  if (!text) return 0;
  int64_t number = 0;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(text->data(), end, number);
  return error == std::errc() && stop == end ? number : 0;
}

}  // namespace

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMInAppPurchaseTransactionReporter::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<APMInAppPurchaseTransactionReporter>(
      std::make_shared<APMInAppPurchaseTransactionReporter>(APMInAppPurchaseProductCache::sharedInstance()));
  return *shared;
}

APMInAppPurchaseTransactionReporter::APMInAppPurchaseTransactionReporter(
    std::shared_ptr<APMInAppPurchaseProductCache> productCache)
    : m_productCache(std::move(productCache)) {}

// --- version 1 ---------------------------------------------------------------------------------

void APMInAppPurchaseTransactionReporter::paymentQueueUpdatedFilteredTransactions(
    const std::vector<platform::PaymentTransaction>& transactions) {
  std::vector<platform::PaymentTransaction> kept;
  std::set<std::string> missing;
  for (const platform::PaymentTransaction& transaction : transactions) {
    if (transaction.state != platform::PaymentTransactionState::Purchased) continue;
    const std::string& productID = transaction.payment.productIdentifier;
    if (productID.empty()) continue;
    kept.push_back(transaction);
    if (!m_productCache->cachedProductForProductIdentifier(productID)) missing.insert(productID);
  }
  if (kept.empty()) return;
  if (missing.empty()) {
    reportOnGlobalQueue([kept](APMInAppPurchaseTransactionReporter& reporter) {
      reporter.reportTransactionsFromArray(kept);
    });
    return;
  }
  reportOnGlobalQueue([kept, missing](APMInAppPurchaseTransactionReporter& reporter) {
    reporter.requestProducts(missing, [kept](APMInAppPurchaseTransactionReporter& answered,
                                             const APMProductsRequest::Products&) {
      answered.reportTransactionsFromArray(kept);
    });
  });
}

void APMInAppPurchaseTransactionReporter::requestProducts(
    const std::set<std::string>& identifiers,
    std::function<void(APMInAppPurchaseTransactionReporter&, const APMProductsRequest::Products&)> then) {
  std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
  m_productCache->requestProductsWithProductIdentifiers(
      identifiers, platform::globalQueue(platform::Qos::Utility),
      [weak, then = std::move(then)](const std::optional<APMProductsRequest::Products>& products,
                                     const std::optional<APMProductsRequest::InvalidIdentifiers>&,
                                     const std::optional<platform::Error>& error) {
        std::shared_ptr<APMInAppPurchaseTransactionReporter> strong = weak.lock();
        if (!strong) return;
        if (error && (!products || products->empty())) {
          monitor().logWithLevel(1, 21027, "Cannot request product information. Error", *error);
          return;
        }
        then(*strong, products.value_or(APMProductsRequest::Products()));
      });
}

void APMInAppPurchaseTransactionReporter::reportTransactionsFromArray(
    const std::vector<platform::PaymentTransaction>& transactions) {
  for (const platform::PaymentTransaction& transaction : transactions) {
    reportTransactionWithProduct(m_productCache->cachedProductForProductIdentifier(
                                     transaction.payment.productIdentifier),
                                 transaction.payment.quantity, transaction.transactionIdentifier,
                                 transaction.originalTransactionIdentifier, transaction.transactionDate, false,
                                 std::nullopt, "1");
  }
  removeAllPurchaseItems();
}

// --- version 2 ---------------------------------------------------------------------------------

void APMInAppPurchaseTransactionReporter::reportTransactionWithProductID(
    const std::string& productID, const std::string& transactionID, const std::string& originalTransactionID,
    const std::optional<std::string>& webOrderLineItemID, int64_t productType, bool isFreeTrial,
    bool isIntroductoryOffer, int64_t paymentQuantity, std::optional<double> purchaseDate,
    std::optional<double> originalPurchaseDate, std::optional<double> subscriptionExpirationDate,
    std::optional<double> cancellationDate, const std::optional<std::string>& environment, bool isVerified) {
  if (isVerified) {
    std::lock_guard lock(m_mutex);
    const bool known = std::any_of(m_allPurchaseItems.begin(), m_allPurchaseItems.end(),
                                   [&](const APMInAppPurchaseItem& item) { return item.transactionID == transactionID; });
    if (!known) {
      APMInAppPurchaseItem item;
      item.freeTrial = isFreeTrial;
      item.introductoryOffer = isIntroductoryOffer;
      item.subscriptionExpirationDateIA5String = APMInAppPurchaseItem::ia5StringFromDate(subscriptionExpirationDate);
      item.productID = productID;
      item.originalTransactionID = originalTransactionID;
      item.transactionID = transactionID;
      item.webOrderLineItemID = webOrderLineItemNumber(webOrderLineItemID);
      item.originalPurchaseDateIA5String = APMInAppPurchaseItem::ia5StringFromDate(originalPurchaseDate);
      item.purchaseDateIA5String = APMInAppPurchaseItem::ia5StringFromDate(purchaseDate);
      item.cancellationDateIA5String = APMInAppPurchaseItem::ia5StringFromDate(cancellationDate);
      item.purchaseType = productType;
      m_allPurchaseItems.insert(m_allPurchaseItems.begin(), std::move(item));
      if (m_allPurchaseItems.size() > kMaxPurchaseItems) m_allPurchaseItems.pop_back();
    }
  }

  auto report = [=](APMInAppPurchaseTransactionReporter& reporter, const std::optional<platform::Product>& product) {
    reporter.reportTransactionWithProduct(product, paymentQuantity, transactionID, originalTransactionID,
                                          purchaseDate, isVerified, environment, "2");
  };
  std::optional<platform::Product> cached = m_productCache->cachedProductForProductIdentifier(productID);
  if (cached || productID.empty()) {
    reportOnGlobalQueue([report, cached](APMInAppPurchaseTransactionReporter& reporter) { report(reporter, cached); });
    return;
  }
  requestProducts({productID}, [report, productID](APMInAppPurchaseTransactionReporter& answered,
                                                   const APMProductsRequest::Products& products) {
    std::optional<platform::Product> product;
    if (auto it = products.find(productID); it != products.end()) product = it->second;
    report(answered, product);
  });
}

// --- one transaction -------------------------------------------------------------------------

bool APMInAppPurchaseTransactionReporter::reportTransactionWithProduct(
    const std::optional<platform::Product>& product, std::optional<int64_t> paymentQuantity,
    const std::optional<std::string>& transactionIdentifier, const std::optional<std::string>&,
    std::optional<double>, bool verifyReceipt, const std::optional<std::string>& environment,
    const std::string& storeVersion) {
  std::optional<Event> event = eventForTransactionWithProduct(product, paymentQuantity, transactionIdentifier,
                                                             verifyReceipt, environment, storeVersion);
  if (!event) return false;
  APMEngineServices::logInternalEvent("auto", event->name, event->parameters);
  return true;
}

std::optional<APMInAppPurchaseTransactionReporter::Event>
APMInAppPurchaseTransactionReporter::eventForTransactionWithProduct(
    const std::optional<platform::Product>& product, std::optional<int64_t> paymentQuantity,
    const std::optional<std::string>& transactionIdentifier, bool verifyReceipt,
    const std::optional<std::string>& environment, const std::string& storeVersion) {
  if (!product) {
    monitor().logWithLevel(8, 40026, "IAP Transaction cannot be created from nil product");
    return std::nullopt;
  }
  if (product->productIdentifier.empty()) {
    monitor().logWithLevel(8, 40027, "IAP Transaction cannot be created from empty or nil product ID");
    return std::nullopt;
  }
  if (!isPresent(transactionIdentifier)) {
    monitor().logWithLevel(8, 40003, "Transaction ID cannot be nil or empty.");
  }

  Dictionary parameters;
  parameters.set("product_id", product->productIdentifier);
  if (std::optional<int64_t> price = millionths(product->price, 1)) parameters.set("price", *price);
  if (paymentQuantity) {
    if (std::optional<int64_t> value = millionths(product->price, *paymentQuantity)) parameters.set("value", *value);
    parameters.set("quantity", *paymentQuantity);
  }
  if (!product->priceLocaleCurrencyCode.empty()) parameters.set("currency", product->priceLocaleCurrencyCode);
  if (!product->localizedTitle.empty()) parameters.set("product_name", product->localizedTitle);

  if (isPresent(transactionIdentifier)) {
    const Dictionary marks = classificationMarksForTransactionID(*transactionIdentifier);
    for (const std::string& key : marks.keys()) parameters.set(key, marks.get(key));
  }

  if (hasMark(parameters, "free_trial")) {
    applyFreeTrial(parameters);
  } else if (hasMark(parameters, "price_is_discounted") && product->introductoryPrice) {
    const platform::ProductDiscount& introductory = *product->introductoryPrice;
    if (introductory.paymentMode == platform::ProductDiscountPaymentMode::FreeTrial) {
      applyFreeTrial(parameters);
    } else {
      if (parameters.contains("price")) parameters.set("original_price", parameters.get("price"));
      parameters.remove("price");
      parameters.remove("value");
      if (std::optional<int64_t> price = millionths(introductory.price, 1)) parameters.set("price", *price);
      if (paymentQuantity) {
        std::optional<int64_t> value = millionths(introductory.price, *paymentQuantity);
        if (value) parameters.set("value", *value);
      }
    }
  }

  for (const char* required : {"price", "value", "currency", "product_id"}) {
    if (!parameters.contains(required)) return std::nullopt;
  }

  const std::string environmentName = environment ? platform::Unicode::lowercase(*environment) : std::string();
  if (environmentName == "sandbox" || environmentName == "xcode" || APMAEU::isASRS()) {
    parameters.set("sandbox", int64_t{1});
  }
  if (verifyReceipt) parameters.set("validated", int64_t{1});

  std::string name = "_iap";
  if (hasMark(parameters, "sub_renew")) {
    name = "_assr";
    parameters.remove("sub_renew");
  } else if (hasMark(parameters, "sub_convert")) {
    name = "_assc";
    parameters.remove("sub_convert");
  }
  parameters.set("_skv", storeVersion);
  return Event{std::move(name), std::move(parameters)};
}

Dictionary APMInAppPurchaseTransactionReporter::classificationMarksForTransactionID(
    const std::string& transactionID) const {
  std::vector<APMInAppPurchaseItem> items = allPurchaseItems();
  auto record = std::find_if(items.begin(), items.end(),
                             [&](const APMInAppPurchaseItem& item) { return item.transactionID == transactionID; });
  Dictionary marks;
  if (record == items.end() || !record->isSubscription()) return marks;
  marks.set("subscription", int64_t{1});
  if (record->purchaseType != APMInAppPurchaseItem::kAutoRenewableSubscription) return marks;

  const int64_t key = record->purchaseKey();
  if (key != -1) marks.set("_did", key);
  if (record->freeTrial) {
    marks.set("free_trial", int64_t{1});
  } else if (record->introductoryOffer) {
    marks.set("price_is_discounted", int64_t{1});
  }
  if (record->transactionID == record->originalTransactionID) return marks;

  // The periods of this subscription in purchase-date order (records without
  // a readable date first); the one before this record decides.
  const APMInAppPurchaseItem current = *record;
  std::vector<APMInAppPurchaseItem> periods;
  std::copy_if(items.begin(), items.end(), std::back_inserter(periods), [&](const APMInAppPurchaseItem& item) {
    return item.originalTransactionID == current.originalTransactionID;
  });
  auto dateOf = [](const APMInAppPurchaseItem& item) {
    return APMInAppPurchaseItem::dateFromIA5String(item.purchaseDateIA5String).value_or(-1e300);
  };
  std::stable_sort(periods.begin(), periods.end(),
                   [&](const APMInAppPurchaseItem& a, const APMInAppPurchaseItem& b) { return dateOf(a) < dateOf(b); });
  auto position = std::find_if(periods.begin(), periods.end(), [&](const APMInAppPurchaseItem& item) {
    return item.transactionID == current.transactionID;
  });
  if (position == periods.begin() || position == periods.end()) return marks;
  marks.set(std::prev(position)->freeTrial ? "sub_convert" : "sub_renew", int64_t{1});
  return marks;
}

std::optional<std::string> APMInAppPurchaseTransactionReporter::transactionFingerprint(
    const platform::PaymentTransaction* transaction) {
  if (transaction == nullptr) {
    monitor().logWithLevel(2, 21014, "Transaction is nil");
    return std::nullopt;
  }
  if (transaction->state != platform::PaymentTransactionState::Purchased) return std::nullopt;
  const Value code(static_cast<long long>(transaction->errorCode.value_or(0)));
  if (!transaction->transactionIdentifier) {
    monitor().logWithLevel(2, 21015, "Transaction identifier is nil. Code", code);
    return std::nullopt;
  }
  const std::string& identifier = *transaction->transactionIdentifier;
  if (identifier.empty()) {
    monitor().logWithLevel(2, 21016, "Transaction identifier is empty. Code", code);
    return std::nullopt;
  }
  if (identifier.find_first_not_of("0-") == std::string::npos) {
    monitor().logWithLevel(2, 21017, "Transaction identifier is only zeroes. Code", code);
    return std::nullopt;
  }
  return apm_MD5String(identifier);
}

std::vector<APMInAppPurchaseItem> APMInAppPurchaseTransactionReporter::allPurchaseItems() const {
  std::lock_guard lock(m_mutex);
  return m_allPurchaseItems;
}

void APMInAppPurchaseTransactionReporter::removeAllPurchaseItems() {
  std::lock_guard lock(m_mutex);
  m_allPurchaseItems.clear();
}

void APMInAppPurchaseTransactionReporter::reportOnGlobalQueue(
    std::function<void(APMInAppPurchaseTransactionReporter&)> block) {
  std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = weak_from_this();
  platform::globalQueue(platform::Qos::Utility).async([weak, block = std::move(block)] {
    if (std::shared_ptr<APMInAppPurchaseTransactionReporter> strong = weak.lock()) block(*strong);
  });
}

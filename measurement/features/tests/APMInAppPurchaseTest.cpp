// Purchases reported as events: exact money in millionths, the parameters a
// transaction gets, its fingerprint, the version-1 batch with cached and
// requested products, version-2 transactions classified by the records they
// leave, and the product cache's bound.
#include "measurement/features/APMInAppPurchaseTransactionReporter.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/features/APMInAppPurchaseProductCache.h"
#include "measurement/features/tests/FeatureTestSupport.h"
#include "platform/app/FakePurchaseStore.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "testing/Quiescence.h"

namespace {

using measurementtest::InternalEventRecord;
using measurementtest::LoggedEvent;
using measurementtest::MeasurementTestEnvironment;
using measurementtest::MonitorReportRecord;
using platform::Dictionary;
using platform::PaymentTransaction;
using platform::PaymentTransactionState;
using platform::Product;
using platform::Value;
using Reporter = APMInAppPurchaseTransactionReporter;

Product product(const std::string& id, const std::string& price, const std::string& currency = "USD") {
  Product made;
  made.productIdentifier = id;
  made.price = price;
  made.priceLocaleCurrencyCode = currency;
  made.localizedTitle = "Title of " + id;
  return made;
}

PaymentTransaction purchase(const std::string& id, const std::string& productID, int64_t quantity = 1,
                            PaymentTransactionState state = PaymentTransactionState::Purchased) {
  PaymentTransaction transaction;
  transaction.state = state;
  transaction.transactionIdentifier = id;
  transaction.originalTransactionIdentifier = id;
  transaction.transactionDate = 1700000000;
  transaction.payment.productIdentifier = productID;
  transaction.payment.quantity = quantity;
  return transaction;
}

int64_t int64Parameter(const Dictionary& parameters, const char* name) { return parameters.get(name).longLongValue(); }

class InAppPurchaseTest : public ::testing::Test {
 protected:
  InAppPurchaseTest() { platform::PurchaseStore::setCurrent(store); }

  // Version 2 of one transaction, its product from the store (or cache).
  void logVersion2(const std::string& productID, const std::string& transactionID, const std::string& originalID,
                   int64_t productType, bool freeTrial, bool introductoryOffer, double purchaseDate,
                   bool verified = true, std::optional<std::string> environment = "Production",
                   std::optional<std::string> webOrderLineItemID = std::nullopt) {
    reporter->reportTransactionWithProductID(productID, transactionID, originalID, webOrderLineItemID, productType,
                                             freeTrial, introductoryOffer, 1, purchaseDate, purchaseDate, std::nullopt,
                                             std::nullopt, environment, verified);
    ASSERT_TRUE(testkit::waitForQuiescence());
  }

  MeasurementTestEnvironment env;
  InternalEventRecord events;
  MonitorReportRecord reports;
  std::shared_ptr<platform::FakePurchaseStore> store = std::make_shared<platform::FakePurchaseStore>();
  std::shared_ptr<APMInAppPurchaseProductCache> cache = std::make_shared<APMInAppPurchaseProductCache>();
  std::shared_ptr<Reporter> reporter = std::make_shared<Reporter>(cache);
};

TEST_F(InAppPurchaseTest, PriceAndValueAreTheDecimalPriceInExactMillionths) {
  struct Row {
    const char* price;
    int64_t quantity;
    std::optional<int64_t> expectedPrice;  // none: no event
    int64_t expectedValue;
  };
  const Row rows[] = {
      {"2.01", 3, 2010000, 6030000},  // doubles give 2009999 and 6029999
      {"0.99", 1, 990000, 990000},
      {"4.99", 0, 4990000, 0},
      {"1000", 2, 1000000000, 2000000000},
      {"0.0000015", 1, 2, 2},  // beyond millionths: half away from zero
      {"0.0000015", 3, 2, 5},
      {"9223372036854.775807", 1, std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max()},
      {"9223372036855", 1, std::nullopt, 0},  // its millionths do not fit
      {"4.99", std::numeric_limits<int64_t>::max(), std::nullopt, 0},  // the value does not fit
      {"not a price", 1, std::nullopt, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.price) + " x " + std::to_string(row.quantity));
    std::optional<Reporter::Event> event =
        reporter->eventForTransactionWithProduct(product("coins", row.price), row.quantity, "1001", false, {}, "1");
    ASSERT_EQ(event.has_value(), row.expectedPrice.has_value());
    if (!event) continue;
    EXPECT_EQ(event->name, "_iap");
    EXPECT_EQ(event->parameters.get("price"), Value(*row.expectedPrice));
    EXPECT_EQ(event->parameters.get("value"), Value(row.expectedValue));
    EXPECT_EQ(event->parameters.get("quantity"), Value(row.quantity));
    EXPECT_EQ(event->parameters.get("currency"), Value("USD"));
    EXPECT_EQ(event->parameters.get("product_id"), Value("coins"));
    EXPECT_EQ(event->parameters.get("product_name"), Value("Title of coins"));
    EXPECT_EQ(event->parameters.get("_skv"), Value("1"));
    EXPECT_FALSE(event->parameters.contains("sandbox"));
    EXPECT_FALSE(event->parameters.contains("subscription"));
  }
}

TEST_F(InAppPurchaseTest, WhatATransactionLacksDecidesWhetherItIsReported) {
  Product noCurrency = product("coins", "1.5", "");
  Product noIdentifier = product("", "1.5");
  EXPECT_FALSE(reporter->eventForTransactionWithProduct(std::nullopt, 1, "1001", false, {}, "1"));
  EXPECT_FALSE(reporter->eventForTransactionWithProduct(noIdentifier, 1, "1001", false, {}, "1"));
  EXPECT_FALSE(reporter->eventForTransactionWithProduct(noCurrency, 1, "1001", false, {}, "1"));
  EXPECT_FALSE(reporter->eventForTransactionWithProduct(product("coins", "1.5"), std::nullopt, "1001", false, {}, "1"));
  // An empty transaction identifier is only noted.
  EXPECT_TRUE(reporter->eventForTransactionWithProduct(product("coins", "1.5"), 1, "", false, {}, "1"));
  EXPECT_EQ(reports.codes(40000, 40099), (std::vector<int64_t>{40026, 40027, 40003}));
}

TEST_F(InAppPurchaseTest, SandboxAndValidatedMarks) {
  struct Row {
    std::optional<std::string> environment;
    std::optional<std::string> receipt;
    bool verified;
    bool sandbox;
  };
  const Row rows[] = {
      {"Sandbox", std::nullopt, false, true},
      {"XCODE", std::nullopt, true, true},
      {"Production", std::nullopt, true, false},
      {std::nullopt, std::nullopt, false, false},
      {"Production", "/store/receipts/sandboxReceipt", false, true},
      {"Production", "/store/receipts/receipt", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.environment.value_or("-") + " " + row.receipt.value_or("-"));
    store->setReceiptPath(row.receipt);
    std::optional<Reporter::Event> event =
        reporter->eventForTransactionWithProduct(product("coins", "1"), 1, "1001", row.verified, row.environment, "2");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->parameters.contains("sandbox"), row.sandbox);
    EXPECT_EQ(event->parameters.contains("validated"), row.verified);
    EXPECT_EQ(event->parameters.get("_skv"), Value("2"));
  }
}

TEST_F(InAppPurchaseTest, OnlyAPurchasedTransactionWithAUsableIdentifierHasAFingerprint) {
  PaymentTransaction withoutIdentifier = purchase("x", "coins");
  withoutIdentifier.transactionIdentifier.reset();
  withoutIdentifier.errorCode = 7;
  struct Row {
    const PaymentTransaction* transaction;
    std::optional<std::string> fingerprint;
    std::vector<int64_t> codes;
  };
  const PaymentTransaction zeroes = purchase("000-000", "coins");
  const PaymentTransaction empty = purchase("", "coins");
  const PaymentTransaction failed = purchase("1000000123", "coins", 1, PaymentTransactionState::Failed);
  const PaymentTransaction good = purchase("1000000123", "coins");
  const Row rows[] = {
      {nullptr, std::nullopt, {21014}},
      {&withoutIdentifier, std::nullopt, {21015}},
      {&empty, std::nullopt, {21016}},
      {&zeroes, std::nullopt, {21017}},
      {&failed, std::nullopt, {}},
      {&good, apm_MD5String("1000000123"), {}},
  };
  for (const Row& row : rows) {
    reports.clear();
    EXPECT_EQ(Reporter::transactionFingerprint(row.transaction), row.fingerprint);
    EXPECT_EQ(reports.codes(21000, 21099), row.codes);
  }
  EXPECT_EQ(Reporter::transactionFingerprint(&good)->size(), 32u);
}

TEST_F(InAppPurchaseTest, ABatchReportsItsPurchasesWithCachedAndRequestedProducts) {
  store->addProduct(product("coins", "0.99"));
  store->addProduct(product("gems", "2.01", "EUR"));
  // "coins" is cached by an earlier answer; "gems" must be asked for.
  cache->requestProductsWithProductIdentifiers({"coins"}, platform::globalQueue(),
                                               [](const auto&, const auto&, const auto&) {});
  ASSERT_TRUE(testkit::waitForQuiescence());
  ASSERT_TRUE(cache->cachedProductForProductIdentifier("coins"));

  reporter->paymentQueueUpdatedFilteredTransactions({
      purchase("2001", "coins", 2),
      purchase("2002", "gems", 3),
      purchase("2003", "coins", 1, PaymentTransactionState::Failed),
      purchase("2004", ""),
      purchase("000-000", "coins"),
  });
  ASSERT_TRUE(testkit::waitForQuiescence());

  EXPECT_EQ(store->requests(), (std::vector<std::vector<std::string>>{{"coins"}, {"gems"}}));
  std::vector<LoggedEvent> logged = events.events();
  ASSERT_EQ(logged.size(), 3u);
  for (const LoggedEvent& event : logged) {
    EXPECT_EQ(event.origin, "auto");
    EXPECT_EQ(event.name, "_iap");
  }
  EXPECT_EQ(int64Parameter(logged[0].parameters, "value"), 1980000);
  EXPECT_EQ(logged[1].parameters.get("currency"), Value("EUR"));
  EXPECT_EQ(int64Parameter(logged[1].parameters, "value"), 6030000);
  EXPECT_EQ(logged[2].parameters.get("product_id"), Value("coins"));  // "000-000" is still reported
}

TEST_F(InAppPurchaseTest, AFailedProductRequestReportsNothing) {
  store->failNextRequest(platform::Error{"StoreError", 5, {}});
  reporter->paymentQueueUpdatedFilteredTransactions({purchase("3001", "coins")});
  ASSERT_TRUE(testkit::waitForQuiescence());
  EXPECT_TRUE(events.events().empty());
  EXPECT_TRUE(reports.reported(21027));

  // Version 2 alike; an unknown product is reported as missing.
  store->failNextRequest(platform::Error{"StoreError", 5, {}});
  logVersion2("coins", "3002", "3002", APMInAppPurchaseItem::kConsumable, false, false, 1700000000);
  logVersion2("unknown", "3003", "3003", APMInAppPurchaseItem::kConsumable, false, false, 1700000000);
  EXPECT_TRUE(events.events().empty());
  EXPECT_EQ(reports.codes(21027, 40026), (std::vector<int64_t>{21027, 21027, 40026}));
}

TEST_F(InAppPurchaseTest, Version2SubscriptionsAreClassifiedByTheirRecords) {
  Product monthly = product("monthly", "4.99");
  monthly.introductoryPrice = platform::ProductDiscount{"0.99", platform::ProductDiscountPaymentMode::PayAsYouGo};
  store->addProduct(monthly);
  store->addProduct(product("lifetime", "20"));
  const double day = 86400;

  // A free trial, then its conversion, then a renewal of the same subscription.
  logVersion2("monthly", "5001", "5001", APMInAppPurchaseItem::kAutoRenewableSubscription, true, false, 1700000000,
              true, "Production", "77");
  logVersion2("monthly", "5002", "5001", APMInAppPurchaseItem::kAutoRenewableSubscription, false, false,
              1700000000 + 7 * day, true, "Production", "78");
  logVersion2("monthly", "5003", "5001", APMInAppPurchaseItem::kAutoRenewableSubscription, false, false,
              1700000000 + 37 * day, true, "Production", "79");
  // An introductory offer on a new subscription; a one-time purchase; an
  // unverified renewal leaves no record, so it has no marks.
  logVersion2("monthly", "6001", "6001", APMInAppPurchaseItem::kAutoRenewableSubscription, false, true, 1700000000);
  logVersion2("lifetime", "7001", "7001", APMInAppPurchaseItem::kNonConsumable, false, false, 1700000000);
  logVersion2("monthly", "6002", "6001", APMInAppPurchaseItem::kAutoRenewableSubscription, false, false,
              1700000000 + 30 * day, false);

  std::vector<LoggedEvent> logged = events.events();
  ASSERT_EQ(logged.size(), 6u);
  EXPECT_EQ(events.names(), (std::vector<std::string>{"_iap", "_assc", "_assr", "_iap", "_iap", "_iap"}));

  const Dictionary& trial = logged[0].parameters;
  EXPECT_EQ(int64Parameter(trial, "subscription"), 1);
  EXPECT_EQ(int64Parameter(trial, "free_trial"), 1);
  EXPECT_EQ(int64Parameter(trial, "price_is_discounted"), 1);
  EXPECT_EQ(int64Parameter(trial, "price"), 0);
  EXPECT_EQ(int64Parameter(trial, "value"), 0);
  EXPECT_EQ(int64Parameter(trial, "original_price"), 4990000);
  EXPECT_EQ(int64Parameter(trial, "_did"), apm_64LSBMD5(std::string_view("500177monthly")));
  EXPECT_EQ(int64Parameter(trial, "validated"), 1);
  EXPECT_EQ(trial.get("_skv"), Value("2"));

  const Dictionary& conversion = logged[1].parameters;
  EXPECT_FALSE(conversion.contains("sub_convert"));
  EXPECT_FALSE(conversion.contains("free_trial"));
  EXPECT_EQ(int64Parameter(conversion, "price"), 4990000);
  EXPECT_EQ(int64Parameter(conversion, "_did"), apm_64LSBMD5(std::string_view("500178monthly")));
  EXPECT_FALSE(logged[2].parameters.contains("sub_renew"));

  const Dictionary& introductory = logged[3].parameters;
  EXPECT_EQ(int64Parameter(introductory, "price_is_discounted"), 1);
  EXPECT_EQ(int64Parameter(introductory, "price"), 990000);
  EXPECT_EQ(int64Parameter(introductory, "value"), 990000);
  EXPECT_EQ(int64Parameter(introductory, "original_price"), 4990000);
  EXPECT_EQ(int64Parameter(introductory, "_did"), apm_64LSBMD5(std::string_view("6001monthly")));

  EXPECT_FALSE(logged[4].parameters.contains("subscription"));
  EXPECT_FALSE(logged[5].parameters.contains("subscription"));
  EXPECT_FALSE(logged[5].parameters.contains("validated"));

  // A version-1 batch forgets the records once reported.
  EXPECT_EQ(reporter->allPurchaseItems().size(), 5u);
  reporter->paymentQueueUpdatedFilteredTransactions({purchase("8001", "lifetime")});
  ASSERT_TRUE(testkit::waitForQuiescence());
  EXPECT_TRUE(reporter->allPurchaseItems().empty());
}

TEST_F(InAppPurchaseTest, AFreeTrialIntroductoryPriceCountsAsAFreeTrial) {
  Product weekly = product("weekly", "1.99");
  weekly.introductoryPrice = platform::ProductDiscount{"0", platform::ProductDiscountPaymentMode::FreeTrial};
  store->addProduct(weekly);
  logVersion2("weekly", "9001", "9001", APMInAppPurchaseItem::kAutoRenewableSubscription, false, true, 1700000000);
  std::vector<LoggedEvent> logged = events.events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(int64Parameter(logged[0].parameters, "price"), 0);
  EXPECT_EQ(int64Parameter(logged[0].parameters, "value"), 0);
  EXPECT_EQ(int64Parameter(logged[0].parameters, "original_price"), 1990000);
}

TEST_F(InAppPurchaseTest, PurchaseRecordsAreBounded) {
  store->addProduct(product("coins", "1"));
  for (int i = 0; i < 105; ++i) {
    reporter->reportTransactionWithProductID("coins", std::to_string(10000 + i), std::to_string(10000 + i),
                                             std::nullopt, APMInAppPurchaseItem::kConsumable, false, false, 1,
                                             1700000000, std::nullopt, std::nullopt, std::nullopt, {}, true);
  }
  ASSERT_TRUE(testkit::waitForQuiescence());
  std::vector<APMInAppPurchaseItem> items = reporter->allPurchaseItems();
  ASSERT_EQ(items.size(), Reporter::kMaxPurchaseItems);
  EXPECT_EQ(items.front().transactionID, "10104");
  EXPECT_EQ(items.back().transactionID, "10005");
  EXPECT_EQ(events.events().size(), 105u);
}

TEST_F(InAppPurchaseTest, TheProductCacheKeepsAtMostAHundredIdentifiers) {
  auto ask = [this](std::vector<std::string> identifiers) {
    cache->requestProductsWithProductIdentifiers(std::set<std::string>(identifiers.begin(), identifiers.end()),
                                                 platform::globalQueue(),
                                                 [](const auto&, const auto&, const auto&) {});
    ASSERT_TRUE(testkit::waitForQuiescence());
  };
  std::vector<std::string> first;
  for (int i = 0; i < 100; ++i) {
    const std::string id = "product." + std::to_string(i);
    first.push_back(id);
    if (i % 2 == 0) store->addProduct(product(id, "1"));
  }
  ask(first);
  EXPECT_EQ(cache->validProductCount(), 50u);
  EXPECT_EQ(cache->invalidProductIdentifiers().size(), 50u);

  // A product that becomes valid leaves the invalid set; the count stays 100.
  store->addProduct(product("product.1", "1"));
  ask({"product.1"});
  EXPECT_EQ(cache->validProductCount(), 51u);
  EXPECT_EQ(cache->invalidProductIdentifiers().size(), 49u);

  // The 101st identifier: only the latest answer is kept.
  store->addProduct(product("product.new", "1"));
  ask({"product.new", "product.gone"});
  EXPECT_EQ(cache->validProductCount(), 1u);
  EXPECT_TRUE(cache->cachedProductForProductIdentifier("product.new"));
  EXPECT_FALSE(cache->cachedProductForProductIdentifier("product.0"));
  EXPECT_EQ(cache->invalidProductIdentifiers(), (std::set<std::string>{"product.gone"}));
}

}  // namespace

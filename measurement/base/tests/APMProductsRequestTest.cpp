#include "measurement/base/APMProductsRequest.h"

#include <gtest/gtest.h>

#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "platform/app/FakePurchaseStore.h"
#include "platform/dispatch/SerialQueue.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

// A store whose requests never answer by themselves.
class SilentStore : public platform::PurchaseStore {
 public:
  void addTransactionObserver(const std::shared_ptr<platform::PaymentTransactionObserver>&) override {}
  void removeTransactionObserver(const std::shared_ptr<platform::PaymentTransactionObserver>&) override {}
  void requestProducts(std::vector<std::string>, platform::DispatchQueue, platform::ProductsHandler) override {}
  std::optional<std::string> receiptPath() const override { return std::nullopt; }
};

struct Answer {
  std::optional<APMProductsRequest::Products> products;
  std::optional<APMProductsRequest::InvalidIdentifiers> invalid;
  std::optional<platform::Error> error;
  bool onQueue = false;
};

class APMProductsRequestTest : public ::testing::Test {
 protected:
  // Asks and waits for the one answer.
  Answer ask(const std::set<std::string>& identifiers) {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<Answer> answer;
    APMProductsRequest::requestProductsWithProductIdentifiers(
        identifiers, platform::DispatchQueue(queue),
        [&](const auto& products, const auto& invalid, const auto& error) {
          std::lock_guard lock(mutex);
          answer = Answer{products, invalid, error, queue.isCurrent()};
          answered.notify_all();
        });
    std::unique_lock lock(mutex);
    EXPECT_TRUE(answered.wait_for(lock, std::chrono::seconds(30), [&] { return answer.has_value(); }));
    return answer.value_or(Answer{});
  }

  MeasurementTestEnvironment env;
  std::shared_ptr<platform::FakePurchaseStore> store = std::make_shared<platform::FakePurchaseStore>();
  platform::SerialQueue queue{"test.products"};
};

TEST_F(APMProductsRequestTest, ProductsAndInvalidIdentifiersOnTheCallersQueue) {
  platform::PurchaseStore::setCurrent(store);
  store->addProduct({"gold", "4.99", "EUR", "Gold"});
  Answer answer = ask({"gold", "silver"});
  EXPECT_TRUE(answer.onQueue);
  ASSERT_TRUE(answer.products);
  EXPECT_EQ(answer.products->size(), 1u);
  EXPECT_EQ(answer.products->at("gold").price, "4.99");
  EXPECT_EQ(answer.invalid, (APMProductsRequest::InvalidIdentifiers{"silver"}));
  EXPECT_FALSE(answer.error);
}

TEST_F(APMProductsRequestTest, TwoProductsOfOneIdentifierGiveOneEntry) {
  platform::PurchaseStore::setCurrent(std::make_shared<SilentStore>());
  auto request = APMProductsRequest::initWithProductIdentifiers({"gold"});
  std::optional<Answer> answer;
  std::mutex mutex;
  request->requestWithQueue(platform::DispatchQueue(queue), [&](const auto& products, const auto& invalid,
                                                                const auto& error) {
    std::lock_guard lock(mutex);
    answer = Answer{products, invalid, error, true};
  });
  platform::ProductsResponse response;
  response.products = {{"gold", "1.00", "EUR", "Old"}, {"", "2.00", "EUR", "Nameless"}, {"gold", "3.00", "EUR", "New"}};
  response.invalidProductIdentifiers = {"x", "x"};
  request->productsRequestDidReceiveResponse(response);
  request->productsRequestDidReceiveResponse(response);  // a second answer is ignored once cleared
  queue.sync([] {});
  queue.sync([] {});
  std::lock_guard lock(mutex);
  ASSERT_TRUE(answer && answer->products);
  EXPECT_EQ(answer->products->size(), 1u);
  EXPECT_EQ(answer->products->at("gold").localizedTitle, "New");
  EXPECT_EQ(answer->invalid, (APMProductsRequest::InvalidIdentifiers{"x"}));
}

TEST_F(APMProductsRequestTest, AFailureAndTheNullStore) {
  platform::PurchaseStore::setCurrent(store);
  store->failNextRequest(platform::Error("SKErrorDomain", 2));
  Answer failed = ask({"gold"});
  EXPECT_FALSE(failed.products);
  EXPECT_FALSE(failed.invalid);
  EXPECT_EQ(failed.error, platform::Error("SKErrorDomain", 2));

  platform::PurchaseStore::setCurrent(nullptr);  // this platform's store: everything invalid
  Answer none = ask({"a", "b"});
  EXPECT_TRUE(none.products && none.products->empty());
  EXPECT_EQ(none.invalid, (APMProductsRequest::InvalidIdentifiers{"a", "b"}));
}

TEST_F(APMProductsRequestTest, NoQueueOrNoHandlerStartsNothing) {
  platform::PurchaseStore::setCurrent(store);
  bool called = false;
  APMProductsRequest::requestProductsWithProductIdentifiers({"gold"}, std::nullopt,
                                                            [&](const auto&, const auto&, const auto&) { called = true; });
  APMProductsRequest::requestProductsWithProductIdentifiers({"gold"}, platform::DispatchQueue(queue), nullptr);
  queue.sync([] {});
  EXPECT_FALSE(called);
  EXPECT_TRUE(store->requests().empty());
}

}  // namespace

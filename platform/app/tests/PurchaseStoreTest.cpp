#include <gtest/gtest.h>

#include <future>

#include "platform/app/FakePurchaseStore.h"
#include "platform/app/NullPurchaseStore.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/SerialQueue.h"

namespace platform {
namespace {

struct Answer {
  ProductsResponse response;
  std::optional<Error> error;
  bool onQueue = false;
};

Answer request(PurchaseStore& store, std::vector<std::string> ids) {
  SerialQueue queue("test.store");
  std::promise<Answer> done;
  store.requestProducts(std::move(ids), queue, [&](const ProductsResponse& r, const std::optional<Error>& e) {
    done.set_value({r, e, queue.isCurrent()});
  });
  return done.get_future().get();
}

std::vector<std::string> identifiers(const std::vector<Product>& products) {
  std::vector<std::string> out;
  for (const auto& p : products) out.push_back(p.productIdentifier);
  return out;
}

TEST(PurchaseStoreTest, NullStoreAnswersEveryIdentifierInvalidOnTheQueue) {
  NullPurchaseStore store;
  Answer answer = request(store, {"com.example.gold", "com.example.silver"});
  EXPECT_TRUE(answer.onQueue);
  EXPECT_FALSE(answer.error);
  EXPECT_TRUE(answer.response.products.empty());
  EXPECT_EQ(answer.response.invalidProductIdentifiers,
            (std::vector<std::string>{"com.example.gold", "com.example.silver"}));
  EXPECT_FALSE(store.receiptPath());
  EXPECT_TRUE(dynamic_cast<NullPurchaseStore*>(PurchaseStore::current().get()));
}

struct RecordingObserver : PaymentTransactionObserver {
  void updatedTransactions(const std::vector<PaymentTransaction>& t) override { received.push_back(t); }
  std::vector<std::vector<PaymentTransaction>> received;
};

TEST(PurchaseStoreTest, FakeStoreSplitsProductsFailsOnDemandAndReportsTransactions) {
  FakePurchaseStore store;
  store.addProduct({"gold", "4.99", "EUR", "Gold", ProductDiscount{"0.99", ProductDiscountPaymentMode::PayUpFront}});
  Answer answer = request(store, {"gold", "tin"});
  EXPECT_TRUE(answer.onQueue);
  EXPECT_EQ(identifiers(answer.response.products), std::vector<std::string>{"gold"});
  EXPECT_EQ(answer.response.invalidProductIdentifiers, std::vector<std::string>{"tin"});

  store.failNextRequest(Error::make("SKErrorDomain", 0, "store unavailable"));
  answer = request(store, {"gold"});
  ASSERT_TRUE(answer.error);
  EXPECT_TRUE(answer.response.products.empty());
  EXPECT_FALSE(request(store, {"gold"}).error);  // only the next one
  EXPECT_EQ(store.requests().size(), 3u);

  auto kept = std::make_shared<RecordingObserver>();
  auto dropped = std::make_shared<RecordingObserver>();
  store.addTransactionObserver(kept);
  store.addTransactionObserver(kept);
  store.addTransactionObserver(dropped);
  std::weak_ptr<RecordingObserver> droppedWeak = dropped;
  dropped.reset();
  EXPECT_EQ(store.observerCount(), 1u);

  PaymentTransaction purchase;
  purchase.state = PaymentTransactionState::Purchased;
  purchase.transactionIdentifier = "t1";
  purchase.payment = {"gold", 2};
  store.reportTransactions({purchase});
  EXPECT_TRUE(kept->received.empty());  // delivered on the main queue, not inside the call
  ASSERT_TRUE(MainQueue::runUntil([&] { return !kept->received.empty(); }, 10));
  ASSERT_EQ(kept->received.size(), 1u);
  EXPECT_EQ(kept->received[0][0].payment.quantity, 2);

  store.removeTransactionObserver(kept);
  store.reportTransactions({purchase});
  MainQueue::drain();
  EXPECT_EQ(kept->received.size(), 1u);
}

}  // namespace
}  // namespace platform

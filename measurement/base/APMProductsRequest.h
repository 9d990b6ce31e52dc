// APMProductsRequest: one product look-up in the platform's purchase store
// (platform::PurchaseStore::current(); this platform's null store answers
// every identifier invalid, tests install a FakePurchaseStore). The answer,
// or the store's error, goes to the completion handler asynchronously on the
// queue the caller chose; the request keeps itself alive until then.
//
//   requestProductsWithProductIdentifiers  the entry point; an empty queue or
//                                          handler starts nothing
//   products    product identifier -> product (an empty identifier is left
//               out; a later product of the same identifier replaces an
//               earlier one)
//   invalid     the identifiers the store does not know
//
// Exactly one answer is delivered; a second one finds no handler.
// Thread safety: any thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/app/PurchaseStore.h"
#include "platform/dispatch/DispatchQueue.h"

class APMProductsRequest : public std::enable_shared_from_this<APMProductsRequest> {
 public:
  using Products = std::map<std::string, platform::Product>;
  using InvalidIdentifiers = std::set<std::string>;
  using CompletionHandler = std::function<void(const std::optional<Products>& products,
                                               const std::optional<InvalidIdentifiers>& invalidIdentifiers,
                                               const std::optional<platform::Error>& error)>;

  static void requestProductsWithProductIdentifiers(const std::set<std::string>& productIdentifiers,
                                                    const std::optional<platform::DispatchQueue>& queue,
                                                    CompletionHandler completionHandler);
  // Nullptr when no store is available.
  static std::shared_ptr<APMProductsRequest> initWithProductIdentifiers(const std::set<std::string>& identifiers);

  void requestWithQueue(const std::optional<platform::DispatchQueue>& queue, CompletionHandler completionHandler);
  void productsRequestDidReceiveResponse(const platform::ProductsResponse& response);
  void requestDidFailWithError(const platform::Error& error);
  void clearInstance();

 private:
  APMProductsRequest(std::shared_ptr<platform::PurchaseStore> store, std::set<std::string> identifiers);

  std::mutex m_mutex;
  std::shared_ptr<platform::PurchaseStore> m_productsRequest;  // the store of the running request
  std::set<std::string> m_identifiers;
  CompletionHandler m_completionHandler;
  std::optional<platform::DispatchQueue> m_queue;
};

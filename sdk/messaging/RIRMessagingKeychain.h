// RIRMessagingKeychain: the one gateway of the messaging library to the
// keychain (platform::Keychain::shared()). Every keychain call runs on its
// serial queue "com.zoruvu.RirivuduInstanceID.Keychain", in the order asked:
// reads synchronously (the caller waits, so a read asked after a write sees
// it), removals and adds asynchronously. Handlers run on the main queue.
//
//   itemsWithQuery       the data of the matching items: at most one when the
//                        query has matchLimitOne, else every match (oldest
//                        first); empty on any failure (debug I-RCM043000).
//   removeItemWithQuery  removes every match; "not found" counts as success;
//                        other statuses reach the handler as errors of domain
//                        "com.zoruvu.iid" whose code is the status.
//   addItemWithQuery     adds the item; with a handler a failure is logged
//                        (warning I-RCM043001) and reported as above.
//   replaceItemWithQuery a removal followed by an add (when the data is not
//                        empty) in one step of the queue, so that no other
//                        keychain call can come between the two; the first
//                        failure reaches the handler.
//
// Thread safety: every member may be called from any thread except the
// gateway's own queue.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/keychain/KeychainQuery.h"
#include "platform/values/Error.h"

inline constexpr const char* kRIRMessagingKeychainErrorDomain = "com.zoruvu.iid";

class RIRMessagingKeychain {
 public:
  using Handler = std::function<void(std::optional<platform::Error> error)>;

  static RIRMessagingKeychain& sharedInstance();

  std::vector<platform::Bytes> itemsWithQuery(const platform::KeychainQuery& query);
  void removeItemWithQuery(const platform::KeychainQuery& query, Handler handler);
  void addItemWithQuery(const platform::KeychainQuery& query, Handler handler);
  void replaceItemWithQuery(const platform::KeychainQuery& removeQuery, const platform::KeychainQuery& addQuery,
                            Handler handler);

  // "{class=genp, gena=..., acct=..., svce=...}" for log lines.
  static std::string describeQuery(const platform::KeychainQuery& query);

 private:
  RIRMessagingKeychain();
  // On the queue: the removal's error (none for success or "not found").
  static std::optional<platform::Error> remove(const platform::KeychainQuery& query);
  // On the queue: the add's error, logged when `report`.
  static std::optional<platform::Error> add(const platform::KeychainQuery& query, bool report);
  platform::SerialQueue m_keychainOperationQueue;
};

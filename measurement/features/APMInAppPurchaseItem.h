// APMInAppPurchaseItem: one purchase record, the facts of one transaction
// that classify it (free trial, introductory offer, subscription periods).
// Dates are texts "yyyy-MM-dd'T'HH:mm:ssZZZZZ" in the POSIX locale, written
// in UTC (ia5StringFromDate) and read back by dateFromIA5String.
//
// purchaseType: kConsumable, kNonConsumable, kNonRenewingSubscription or
// kAutoRenewableSubscription (the version-2 transaction's product type).
//
// A plain value; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct APMInAppPurchaseItem {
  static constexpr int64_t kConsumable = 0;
  static constexpr int64_t kNonConsumable = 1;
  static constexpr int64_t kNonRenewingSubscription = 2;
  static constexpr int64_t kAutoRenewableSubscription = 3;
  static constexpr const char* kDateFormat = "yyyy-MM-dd'T'HH:mm:ssZZZZZ";

  bool freeTrial = false;
  bool introductoryOffer = false;
  std::string subscriptionExpirationDateIA5String;
  std::string productID;
  std::string originalTransactionID;
  std::string transactionID;
  int64_t webOrderLineItemID = 0;
  std::string originalPurchaseDateIA5String;
  std::string purchaseDateIA5String;
  std::string cancellationDateIA5String;
  int64_t purchaseType = kConsumable;

  // "" for no date (or one the format cannot write).
  static std::string ia5StringFromDate(const std::optional<double>& date);
  // None for a text the format does not read.
  static std::optional<double> dateFromIA5String(const std::string& text);

  // The purchase key "_did": the low 64 bits of the MD5 of the original
  // transaction ID, the web order line item ID in decimal (when not 0) and
  // the product ID; -1 when the original transaction ID or the product ID
  // is empty.
  int64_t purchaseKey() const;
  bool isSubscription() const {
    return purchaseType == kNonRenewingSubscription || purchaseType == kAutoRenewableSubscription;
  }
};

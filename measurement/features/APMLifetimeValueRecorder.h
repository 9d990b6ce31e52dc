// APMLifetimeValueRecorder: the lifetime value of purchases per currency, kept
// as user properties "_ltv_<CURRENCY>" (origin "auto") in millionths of the
// currency unit. The engine calls it inside the transaction that stores a
// purchase event; NO rolls that transaction back.
//
// A purchase event ("_iap", "in_app_purchase" or an e-commerce purchase:
// "ecommerce_purchase", "purchase", "refund") needs a 3-character "currency"
// (22000) and a double or 64-bit integer "value" (22001). The amount it adds:
// an e-commerce event's value x 1,000,000 rounded half away from zero, negated
// for "refund"; an "_iap" event's value as it is (its millionths, a double
// truncated); 0 for "in_app_purchase". An amount, or a new total, that does
// not fit a signed 64-bit integer is refused (22002) and nothing changes. A
// currency not tracked yet, when "measurement.lifetimevalue.max_currency_tracked"
// currencies are, replaces the last one in the database's order.
//
// Thread safety: the database's (the engine's worker queue).
#pragma once

class APMDatabase;
class APMEvent;

class APMLifetimeValueRecorder {
 public:
  static constexpr const char* kPropertyPrefix = "_ltv_";

  // Whether the value was recorded.
  static bool recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event);
  static bool isPurchaseEvent(const APMEvent& event);
  static bool isEcommercePurchaseEvent(const APMEvent& event);
};

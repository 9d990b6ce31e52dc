#include "measurement/base/APMNameTables.h"

#include <set>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"

namespace {

using NameSet = std::set<std::string, std::less<>>;

const NameSet& ecommerceEventNames() {
  static const NameSet names = {
      "add_payment_info", "add_shipping_info", "add_to_cart",        "add_to_wishlist",  "begin_checkout",
      "purchase",         "refund",            "remove_from_cart",   "select_item",      "select_promotion",
      "view_cart",        "view_item",         "view_item_list",     "view_promotion",   "ecommerce_purchase",
      "checkout_progress", "purchase_refund",  "select_content",     "set_checkout_option", "view_search_results",
  };
  return names;
}

const NameSet& standardItemParameterNames() {
  static const NameSet names = {
      "affiliation",     "coupon",         "creative_name",  "creative_slot",  "currency",
      "discount",        "index",          "item_id",        "item_brand",     "item_category",
      "item_category2",  "item_category3", "item_category4", "item_category5", "item_list_name",
      "item_list_id",    "item_name",      "item_variant",   "location_id",    "payment_type",
      "price",           "promotion_id",   "promotion_name", "quantity",       "shipping",
      "shipping_tier",   "tax",            "transaction_id", "value",          "checkout_step",
      "checkout_option", "item_list",      "item_location_id",
  };
  return names;
}

bool contains(const NameSet& names, const platform::Value& name) {
  const std::string* text = name.asString();
  return text != nullptr && names.count(*text) > 0;
}

}  // namespace

const APMNameMap& APMEventNameMap() {
  static const APMNameMap map = {
      {"adunit_exposure", "_xu"},
      {"ad_activeview", "_aa"},
      {"ad_click", "_ac"},
      {"ad_exposure", "_xa"},
      {"ad_impression", "_ai"},
      {"ad_query", "_aq"},
      {"ad_reward", "_ar"},
      {"app_clear_data", "_cd"},
      {"app_exception", "_ae"},
      {"app_remove", "_ui"},
      {"app_store_refund", "_asr"},
      {"app_store_subscription_cancel", "_asse"},
      {"app_store_subscription_convert", "_assc"},
      {"app_store_subscription_renew", "_assr"},
      {"app_update", "_au"},
      {"app_upgrade", "_ug"},
      {"error", "_err"},
      {"ririvudu_campaign", "_cmp"},
      {"first_open", "_f"},
      {"first_visit", "_v"},
      {"ga_campaign", "_cmp"},
      {"ga_extra_parameter", "_ep"},
      {"in_app_purchase", "_iap"},
      {"notification_dismiss", "_nd"},
      {"notification_foreground", "_nf"},
      {"notification_open", "_no"},
      {"notification_receive", "_nr"},
      {"os_update", "_ou"},
      {"screen_view", "_vs"},
      {"session_start", "_s"},
      {"session_start_with_rollout", "_ssr"},
      {"user_engagement", "_e"},
  };
  return map;
}

const APMNameMap& APMInternalToPublicEventNameMap() {
  static const APMNameMap map = [] {
    APMNameMap inverse;
    for (const auto& [publicName, internalName] : APMEventNameMap()) inverse[internalName] = publicName;
    // "_cmp" has two public names; keep the one the debug names show too.
    inverse["_cmp"] = "ga_campaign";
    return inverse;
  }();
  return map;
}

const APMNameMap& APMAllowedPublicEventNameMap() {
  static const APMNameMap map = {{"ad_impression", "_ai"}, {"in_app_purchase", "_iap"}};
  return map;
}

const APMNameMap& APMPublicToInternalParamNames() {
  static const APMNameMap map = {
      {"ad_event_id", "_aeid"},
      {"ad_unit_id", "_ai"},
      {"app_in_background", "_aib"},
      {"customer_type", "_ct"},
      {"deferred_analytics_collection", "_dac"},
      {"engagement_time_msec", "_et"},
      {"exposure_time", "_xt"},
      {"ririvudu_conversion", "_c"},
      {"ririvudu_debug", "_dbg"},
      {"ririvudu_error", "_err"},
      {"ririvudu_error_length", "_el"},
      {"ririvudu_error_value", "_ev"},
      {"ririvudu_event_origin", "_o"},
      {"ririvudu_feature_rollouts", "_ffr"},
      {"ririvudu_previous_class", "_pc"},
      {"ririvudu_previous_id", "_pi"},
      {"ririvudu_previous_screen", "_pn"},
      {"ririvudu_realtime", "_r"},
      {"ririvudu_screen", "_sn"},
      {"ririvudu_screen_class", "_sc"},
      {"ririvudu_screen_id", "_si"},
      {"ga_conversion", "_c"},
      {"ga_debug", "_dbg"},
      {"ga_dedupe_id", "_did"},
      {"ga_error", "_err"},
      {"ga_error_length", "_el"},
      {"ga_error_value", "_ev"},
      {"ga_event_id", "_eid"},
      {"ga_event_name", "_en"},
      {"ga_event_origin", "_o"},
      {"ga_extra_params_ct", "_epc"},
      {"ga_group_name", "_gn"},
      {"ga_index", "_i"},
      {"ga_list_length", "_ll"},
      {"ga_previous_class", "_pc"},
      {"ga_previous_id", "_pi"},
      {"ga_previous_screen", "_pn"},
      {"ga_realtime", "_r"},
      {"ga_screen", "_sn"},
      {"ga_screen_class", "_sc"},
      {"ga_screen_id", "_si"},
      {"message_id", "_nmid"},
      {"message_name", "_nmn"},
      {"message_time", "_nmt"},
      {"message_tracking_id", "_nmtid"},
      {"message_type", "_nmc"},
      {"message_device_time", "_ndt"},
      {"previous_app_version", "_pv"},
      {"previous_first_open_count", "_pfo"},
      {"previous_vod_app_id", "_pgmp"},
      {"previous_os_version", "_po"},
      {"session_id", "_sid"},
      {"session_number", "_sno"},
      {"topic", "_nt"},
      {"update_with_analytics", "_uwa"},
  };
  return map;
}

const APMNameMap& APMReservedUserPropertyNames() {
  static const APMNameMap map = {
      {"ririvudu_last_notification", "_ln"},
      {"first_open_after_install", "_fi"},
      {"first_open_time", "_fot"},
      {"ga_session_id", "_sid"},
      {"ga_session_number", "_sno"},
      {"last_advertising_id_reset", "_lair"},
      {"last_deep_link_referrer", "_ldl"},
      {"lifetime_user_engagement", "_lte"},
      {"session_user_engagement", "_se"},
      {"user_id", "_id"},
  };
  return map;
}

bool APMIsEcommerceEventName(const platform::Value& name) { return contains(ecommerceEventNames(), name); }

bool APMIsStandardItemParameterName(const platform::Value& name) {
  return contains(standardItemParameterNames(), name);
}

size_t APMEcommerceEventNameCount() { return ecommerceEventNames().size(); }

size_t APMStandardItemParameterNameCount() { return standardItemParameterNames().size(); }

bool APMIsPublicName(const platform::Value& name) {
  const std::string* text = name.asString();
  if (text == nullptr) {
    APMEngineServices::monitor()->logWithLevel(2, 18002, "Cannot check the name. Name is not a string");
    return false;
  }
  if (text->empty()) {
    APMEngineServices::monitor()->logWithLevel(2, 18003, "Cannot check the name. Name is empty");
    return false;
  }
  return (*text)[0] != '_';
}

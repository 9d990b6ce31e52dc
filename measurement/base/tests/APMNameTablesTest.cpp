#include "measurement/base/APMNameTables.h"

#include <gtest/gtest.h>

#include "measurement/base/tests/MeasurementTestEnvironment.h"

namespace {

TEST(APMNameTablesTest, SizesAndTheSharedShortNames) {
  EXPECT_EQ(APMEventNameMap().size(), 32u);
  EXPECT_EQ(APMInternalToPublicEventNameMap().size(), 31u);
  EXPECT_EQ(APMPublicToInternalParamNames().size(), 55u);
  EXPECT_EQ(APMReservedUserPropertyNames().size(), 10u);
  EXPECT_EQ(APMEcommerceEventNameCount(), 20u);
  EXPECT_EQ(APMStandardItemParameterNameCount(), 33u);
  EXPECT_EQ(APMAllowedPublicEventNameMap().size(), 2u);

  EXPECT_EQ(APMEventNameMap().at("ga_campaign"), "_cmp");
  EXPECT_EQ(APMEventNameMap().at("ririvudu_campaign"), "_cmp");
  EXPECT_EQ(APMInternalToPublicEventNameMap().at("_cmp"), "ga_campaign");
  EXPECT_EQ(APMInternalToPublicEventNameMap().at("_vs"), "screen_view");
  // Events and parameters are separate namespaces.
  EXPECT_EQ(APMPublicToInternalParamNames().at("ad_unit_id"), "_ai");
  EXPECT_EQ(APMEventNameMap().at("ad_impression"), "_ai");
  EXPECT_EQ(APMAllowedPublicEventNameMap().at("in_app_purchase"), "_iap");
  EXPECT_EQ(APMReservedUserPropertyNames().at("user_id"), "_id");
  // Every inverse entry maps back.
  for (const auto& [internalName, publicName] : APMInternalToPublicEventNameMap()) {
    EXPECT_EQ(APMEventNameMap().at(publicName), internalName);
  }
}

TEST(APMNameTablesTest, ListsAndPublicNames) {
  measurementtest::MeasurementTestEnvironment env;
  EXPECT_TRUE(APMIsEcommerceEventName("purchase"));
  EXPECT_TRUE(APMIsEcommerceEventName("view_search_results"));
  EXPECT_FALSE(APMIsEcommerceEventName("Purchase"));
  EXPECT_FALSE(APMIsEcommerceEventName(platform::Value(3)));
  EXPECT_TRUE(APMIsStandardItemParameterName("value"));
  EXPECT_TRUE(APMIsStandardItemParameterName("currency"));
  EXPECT_FALSE(APMIsStandardItemParameterName("custom"));

  EXPECT_TRUE(APMIsPublicName("screen_view"));
  EXPECT_FALSE(APMIsPublicName("_vs"));
  EXPECT_FALSE(APMIsPublicName(""));
  EXPECT_FALSE(APMIsPublicName(platform::Value(1)));
  EXPECT_FALSE(env.logged("I-ACS018002"));  // level 2 is silent: sampled, never printed
}

}  // namespace

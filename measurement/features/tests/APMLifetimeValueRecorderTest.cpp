// The lifetime value per currency on a real measurement database: amounts by
// event kind, refunds, refused currencies and values, 64-bit bounds, and the
// limit on tracked currencies.
#include "measurement/features/APMLifetimeValueRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEvent.h"
#include "measurement/base/tests/MeasurementDatabaseTestSupport.h"
#include "measurement/features/tests/FeatureTestSupport.h"

namespace {

using measurementtest::DatabaseWorld;
using measurementtest::MonitorReportRecord;
using platform::Dictionary;
using platform::Value;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

std::shared_ptr<APMEvent> event(const std::string& name, const Value& currency, const Value& value) {
  Dictionary parameters;
  if (!currency.isNull()) parameters.set("currency", currency);
  if (!value.isNull()) parameters.set("value", value);
  return APMEvent::initWithOrigin("app", false, name, 1700000000, 0, parameters);
}

class LifetimeValueRecorderTest : public ::testing::Test {
 protected:
  LifetimeValueRecorderTest() {
    database = world.open();
    EXPECT_TRUE(database);
  }

  bool record(const std::string& name, const Value& currency, const Value& value) {
    std::shared_ptr<APMEvent> made = event(name, currency, value);
    EXPECT_TRUE(made);
    return APMLifetimeValueRecorder::recordLifetimeValueToDatabase(*database, *made);
  }

  // The stored lifetime values, name -> value, in the database's order.
  std::vector<std::pair<std::string, int64_t>> lifetimeValues() {
    platform::Error error;
    std::vector<std::pair<std::string, int64_t>> values;
    const auto properties = database->allLifetimeValueUserAttributes(&error);
    EXPECT_TRUE(properties);
    for (const auto& property : properties.value_or(std::vector<std::shared_ptr<APMUserAttribute>>())) {
      EXPECT_EQ(property->origin(), "auto");
      values.emplace_back(property->name(), property->value()->int64Value());
    }
    return values;
  }

  DatabaseWorld world;
  MonitorReportRecord reports;
  std::shared_ptr<APMDatabase> database;
};

TEST_F(LifetimeValueRecorderTest, EachPurchaseKindAddsItsAmountInMillionths) {
  struct Row {
    const char* name;
    Value currency;
    Value value;
    int64_t total;  // of "_ltv_USD" afterwards
  };
  const Row rows[] = {
      {"purchase", Value("USD"), Value(9.99), 9990000},
      {"refund", Value("usd"), Value(9.99), 0},  // lower case, name in upper case
      {"ecommerce_purchase", Value("USD"), Value(int64_t{3}), 3000000},
      {"_iap", Value("USD"), Value(int64_t{4990000}), 7990000},  // already millionths
      {"_iap", Value("Usd"), Value(2.9), 7990002},                 // a double truncated
      {"in_app_purchase", Value("USD"), Value(100.0), 7990002},
      {"purchase", Value("USD"), Value(0.0000005), 7990003},  // half away from zero
      {"refund", Value("USD"), Value(int64_t{9}), -1009997},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(record(row.name, row.currency, row.value));
    EXPECT_EQ(lifetimeValues(), (std::vector<std::pair<std::string, int64_t>>{{"_ltv_USD", row.total}}));
  }
  EXPECT_EQ(reports.codes(22000, 22099), std::vector<int64_t>(std::size(rows), 22006));
  EXPECT_FALSE(record("screen_view", Value("USD"), Value(1.0)));
}

TEST_F(LifetimeValueRecorderTest, BadCurrenciesValuesAndAmountsChangeNothing) {
  ASSERT_TRUE(record("_iap", Value("EUR"), Value(kMax - 10)));
  reports.clear();
  struct Row {
    const char* name;
    Value currency;
    Value value;
    int64_t code;
  };
  const Row rows[] = {
      {"purchase", Value("US"), Value(1.0), 22000},
      {"purchase", Value("EURO"), Value(1.0), 22000},
      {"purchase", Value(int64_t{978}), Value(1.0), 22000},
      {"purchase", Value(), Value(1.0), 22000},
      {"purchase", Value("EUR"), Value("1.0"), 22001},
      {"purchase", Value("EUR"), Value(), 22001},
      {"purchase", Value("EUR"), Value(1e300), 22002},
      {"refund", Value("EUR"), Value(-1e300), 22002},
      {"purchase", Value("EUR"), Value(kMax / 1000), 22002},  // x 1,000,000 overflows
      {"purchase", Value("EUR"), Value(9223372036854.775807), 22002},  // rounds to 2^63
      {"_iap", Value("EUR"), Value(int64_t{11}), 22002},  // the new total overflows
      {"_iap", Value("EUR"), Value(1e19), 22002},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " " + row.currency.description() + " " + row.value.description());
    reports.clear();
    EXPECT_FALSE(record(row.name, row.currency, row.value));
    EXPECT_EQ(reports.codes(22000, 22099), std::vector<int64_t>{row.code});
  }
  EXPECT_EQ(lifetimeValues(), (std::vector<std::pair<std::string, int64_t>>{{"_ltv_EUR", kMax - 10}}));
  EXPECT_TRUE(record("_iap", Value("EUR"), Value(int64_t{10})));
  EXPECT_EQ(lifetimeValues(), (std::vector<std::pair<std::string, int64_t>>{{"_ltv_EUR", kMax}}));
}

TEST_F(LifetimeValueRecorderTest, ANewCurrencyBeyondTheLimitReplacesTheLastTracked) {
  for (const char* currency : {"USD", "EUR", "GBP", "JPY"}) ASSERT_TRUE(record("purchase", Value(currency), Value(1.0)));
  std::vector<std::pair<std::string, int64_t>> before = lifetimeValues();
  ASSERT_EQ(before.size(), 4u);

  ASSERT_TRUE(record("purchase", Value("CHF"), Value(2.0)));
  std::vector<std::pair<std::string, int64_t>> after = lifetimeValues();
  ASSERT_EQ(after.size(), 4u);
  EXPECT_NE(std::find(after.begin(), after.end(), std::pair<std::string, int64_t>{"_ltv_CHF", 2000000}), after.end());
  EXPECT_EQ(std::find(after.begin(), after.end(), before.back()), after.end());

  // A tracked currency only adds up.
  ASSERT_TRUE(record("purchase", Value("CHF"), Value(1.0)));
  EXPECT_EQ(lifetimeValues().size(), 4u);

  // A smaller limit from the settings.
  world.useSettings({{"measurement.lifetimevalue.max_currency_tracked", "1"}});
  ASSERT_TRUE(record("purchase", Value("SEK"), Value(1.0)));
  EXPECT_EQ(lifetimeValues().size(), 4u);
}

}  // namespace

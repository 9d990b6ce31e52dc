// On-device conversion measurement in a running engine with the stand-in
// clients: the first protocol's query (address, counters, match, retries,
// limits, session starts, group IDs, expiry) and the second protocol's
// conversion service (switches, repeated and empty values, versions).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMUserAttribute.h"
#include "measurement/engine/tests/MeasurementEngineTestSupport.h"
#include "testing/fakes/measurement/FakeConversionService.h"
#include "testing/fakes/measurement/FakePrivateSetMembershipClient.h"
#include "testing/fakes/measurement/FakePrivateSetMembershipGroupClient.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using platform::Dictionary;
using platform::Value;

constexpr double kDay = 86400;
// One day after the first open below.
constexpr double kEpoch = 1700086400;
constexpr int64_t kFirstOpenMilliseconds = 1700000000500;
constexpr const char* kQueryPath = "/psm/query";

// A plain view of what the engine stored.
struct Stored {
  std::map<std::string, std::string> properties;  // name -> value as text
  std::map<std::string, double> odmValues;        // "name=value" -> set time
};

class OnDeviceConversionTest : public ::testing::Test {
 protected:
  OnDeviceConversionTest() { m_world.emplace(kEpoch); }

  MeasurementEngineWorld& world() { return *m_world; }
  // A fresh process: the engine and its state made anew.
  void renew() {
    m_world.reset();
    m_world.emplace(kEpoch);
  }

  // Starts the engine with the ads feature on (unless told otherwise) and a
  // first open one day ago.
  void start(std::vector<std::pair<std::string, std::string>> settings = {{"measurement.odm2_enabled", "1"}}) {
    world().start();
    world().onWorkerQueue([](APMMeasurement& engine) {
      engine.persistedConfig()->setFirstOpenTimestampMilliseconds(kFirstOpenMilliseconds);
    });
    measurementtest::useSettings(world(), settings);
  }

  void userData(const Dictionary& data) {
    world().onWorkerQueue([&data](APMMeasurement& engine) { engine.initiateODM1ProtocolWithUserData(data); });
    world().settle();
  }

  void setProperty(const std::string& name, APMValuePtr value, double setTime) {
    world().onWorkerQueue([&](APMMeasurement& engine) {
      auto property = APMUserAttribute::initWithOrigin("auto", name, value, setTime);
      EXPECT_TRUE(engine.database()->updateUserAttribute(property.get(), nullptr));
    });
  }

  Stored stored() {
    Stored found;
    world().onWorkerQueue([&found](APMMeasurement& engine) {
      for (const auto& property : engine.database()->userAttributesIncludingInternal(true, nullptr).value_or(
               std::vector<std::shared_ptr<APMUserAttribute>>())) {
        found.properties[property->name()] = property->value()->value().stringValue();
      }
      for (const char* name : {"odm1_value", "odm1_session_value", "odm1_group_id", "odm2_value"}) {
        if (std::optional<APMDatabase::Record> row = engine.database()->ODMValueWithName(name, nullptr)) {
          found.odmValues[std::string(name) + "=" + row->get("value").stringValue()] =
              row->get("set_timestamp").doubleValue();
        }
      }
    });
    return found;
  }

  std::vector<std::string> queries() {
    std::vector<std::string> found;
    for (const testkit::RecordedRequest& request : world().services.requests(kQueryPath)) found.push_back(request.query);
    return found;
  }

  // The "_fx" events with their source and real-time mark.
  std::vector<std::string> conversionEvents() {
    std::vector<std::string> found;
    auto database = measurementtest::rawDatabase();
    const auto realtime = database->rows("SELECT is_realtime FROM raw_events ORDER BY rowid");
    const std::vector<measurementtest::RawEventRow> rows = world().rawEvents();
    for (size_t index = 0; index < rows.size(); ++index) {
      if (rows[index].name != "_fx") continue;
      found.push_back(measurementtest::parameterValue(rows[index], "_fxs").stringValue() +
                      (index < realtime.size() && realtime[index][0] == "1" ? " rt" : ""));
    }
    return found;
  }

  std::optional<MeasurementEngineWorld> m_world;
};

class FirstProtocolTest : public OnDeviceConversionTest {
 protected:
  testkit::ScopedPrivateSetMembershipClient client;
  testkit::ScopedPrivateSetMembershipGroupClient groupClient;
};

TEST_F(FirstProtocolTest, AMatchBecomesThePropertyAndARealTimeEvent) {
  world().services.on("POST", kQueryPath, testkit::Answer::text(200, "match-42"));
  start();
  EXPECT_TRUE(world().reported(23253));
  userData({{"email_address", "ann@example.com"}, {"phone_number", "+15550100"}});

  // Only the e-mail client is made and queried, with the e-mail prefix.
  const std::vector<testkit::FakePrivateSetMembershipClient::Initialisation> made =
      testkit::FakePrivateSetMembershipClient::initialisations();
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].selector, APMPrivateSetMembershipClient::kInitWithEmailAddressPrefix);
  EXPECT_EQ(made[0].prefixBitLength, 14u);
  EXPECT_FALSE(made[0].appID.empty());
  // The first open 1700000000.5 s rounds down to its minute, plus one.
  EXPECT_EQ(queries(), (std::vector<std::string>{"retry=0&psm_count=0&timestamp_first_open=1700000040"}));
  EXPECT_EQ(world().services.requests(kQueryPath).at(0).body, "ann@example.com");

  const Stored after = stored();
  EXPECT_EQ(after.properties.at("_psmvalue"), "match-42");
  EXPECT_EQ(after.properties.at("_psmcount"), "1");
  EXPECT_EQ(after.odmValues.count("odm1_value=match-42"), 1u);
  EXPECT_EQ(conversionEvents(), (std::vector<std::string>{"psm rt"}));
  EXPECT_TRUE(world().reported(23229));

  // The e-mail input was cached: the group ID is asked for once the query ended.
  EXPECT_EQ(testkit::FakePrivateSetMembershipGroupClient::fetchCount(), 1);
  EXPECT_EQ(after.odmValues.count(std::string("odm1_group_id=") +
                                  testkit::FakePrivateSetMembershipGroupClient::kDefaultGroupID),
            1u);

  // With a match stored, new user data is not queried.
  userData({{"email_address", "bob@example.com"}});
  EXPECT_TRUE(world().reported(23237));
  EXPECT_EQ(queries().size(), 1u);
}

TEST_F(FirstProtocolTest, FailedQueriesRetryWithDoublingDelaysUpToTheLimit) {
  world().services.on("POST", kQueryPath, testkit::Answer::text(503, "busy"));
  start();
  userData({{"hashed_email_address", Value::data(platform::Bytes(32, 0xab))}});
  ASSERT_EQ(queries().size(), 1u);
  for (const double delay : {300.0, 600.0, 1200.0, 2400.0}) {
    const size_t before = queries().size();
    world().advance(delay - 1);
    EXPECT_EQ(queries().size(), before) << delay;
    world().advance(1);
    EXPECT_EQ(queries().size(), before + 1) << delay;
  }
  EXPECT_TRUE(world().reported(23231));
  world().advance(10 * kDay);
  // Every answer counted; the retry count goes into the address.
  EXPECT_EQ(queries(), (std::vector<std::string>{
                           "retry=0&psm_count=0&timestamp_first_open=1700000040",
                           "retry=1&psm_count=1&timestamp_first_open=1700000040",
                           "retry=2&psm_count=2&timestamp_first_open=1700000040",
                           "retry=3&psm_count=3&timestamp_first_open=1700000040",
                           "retry=4&psm_count=4&timestamp_first_open=1700000040",
                       }));
  EXPECT_EQ(world().monitorLines(23228).size(), 5u);
  const Stored after = stored();
  EXPECT_EQ(after.properties.at("_psmcounth"), "5");
  EXPECT_EQ(after.properties.count("_psmvalue"), 0u);
}

TEST_F(FirstProtocolTest, QueriesStopAtTheStartLimitAndOutsideTheFirstOpenWindow) {
  world().services.on("POST", kQueryPath, testkit::Answer::text(200, ""));  // no match
  start();
  for (int attempt = 0; attempt < 4; ++attempt) userData({{"email_address", "ann@example.com"}});
  EXPECT_EQ(queries().size(), 3u);
  EXPECT_EQ(world().monitorLines(23230).size(), 3u);
  EXPECT_EQ(world().monitorLines(23236).size(), 1u);
  // Empty user data is refused before any other check.
  userData({{"email_address", ""}});
  EXPECT_TRUE(world().reported(23234));

  // 61 days after the first open the window (60 days) has closed.
  world().advance(60 * kDay);
  world().clearMonitorLines();
  userData({{"phone_number", "+15550100"}});
  EXPECT_TRUE(world().reported(23261));
  EXPECT_EQ(queries().size(), 3u);
}

TEST_F(FirstProtocolTest, SessionStartsQueryWithTheCachedInput) {
  world().services.on("POST", kQueryPath, testkit::Answer::text(200, "session-match"));
  start();
  // Without cached input there is nothing to ask.
  world().onWorkerQueue([](APMMeasurement& engine) { engine.initiateODMSessionStartProtocolWithTimestamp(kEpoch); });
  EXPECT_TRUE(world().reported(23284));

  world().onWorkerQueue([](APMMeasurement& engine) {
    engine.persistedConfig()->setPSMHashedInputData(Value::data(platform::Bytes{'h', 'i'}));
    engine.persistedConfig()->setPSMInputType(APMPrivateSetMembershipClient::kHashedEmailAddress);
  });
  setProperty("_sid", APMValue::initWithInt64(1700086425), kEpoch);
  world().onWorkerQueue([](APMMeasurement& engine) { engine.initiateODMSessionStartProtocolWithTimestamp(kEpoch); });
  world().settle();

  const std::vector<testkit::FakePrivateSetMembershipClient::Initialisation> made =
      testkit::FakePrivateSetMembershipClient::initialisations();
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].selector, APMPrivateSetMembershipClient::kInitWithHashedInput);
  EXPECT_EQ(made[0].prefixBitLength, 13u);
  // No first-open time; "tss" is the session ID's next minute.
  EXPECT_EQ(queries(), (std::vector<std::string>{"retry=0&psm_count=0&tss=1700086440"}));
  const Stored after = stored();
  EXPECT_EQ(after.odmValues.count("odm1_session_value=session-match"), 1u);
  EXPECT_EQ(after.properties.count("_psmvalue"), 0u);
  EXPECT_TRUE(conversionEvents().empty());
}

TEST_F(FirstProtocolTest, TheGroupIDIsAskedForOnceADay) {
  start();
  world().onWorkerQueue([](APMMeasurement& engine) {
    engine.persistedConfig()->setPSMHashedInputData(Value::data(platform::Bytes{'h', 'i'}));
    engine.persistedConfig()->setPSMInputType(APMPrivateSetMembershipClient::kHashedEmailAddress);
  });
  auto ask = [this] {
    world().onWorkerQueue([](APMMeasurement& engine) { engine.initiateODMGroupIDProtocol(); });
    world().settle();
  };
  ask();
  EXPECT_EQ(testkit::FakePrivateSetMembershipGroupClient::fetchCount(), 1);
  EXPECT_TRUE(world().reported(23315));
  ask();
  EXPECT_TRUE(world().reported(23312));
  EXPECT_EQ(testkit::FakePrivateSetMembershipGroupClient::fetchCount(), 1);
  world().advance(kDay);
  ask();
  EXPECT_EQ(testkit::FakePrivateSetMembershipGroupClient::fetchCount(), 2);

  // Phone inputs are not asked for.
  world().onWorkerQueue([](APMMeasurement& engine) {
    engine.persistedConfig()->setPSMInputType(APMPrivateSetMembershipClient::kPhoneNumber);
  });
  world().advance(kDay);
  ask();
  EXPECT_TRUE(world().reported(23311));
  EXPECT_EQ(testkit::FakePrivateSetMembershipGroupClient::fetchCount(), 2);
}

TEST_F(FirstProtocolTest, StoredValuesExpireAfterNinetyDays) {
  start();
  const double now = kEpoch;
  world().onWorkerQueue([now](APMMeasurement& engine) {
    engine.database()->updateODMValue("old", "odm1_value", now - 90 * kDay, nullptr);
    engine.database()->updateODMValue("recent", "odm1_session_value", now - 89 * kDay, nullptr);
    engine.database()->updateODMValue("group", "odm1_group_id", now - 91 * kDay, nullptr);
  });
  setProperty("_psmvalue", APMValue::initWithString(Value("old")), now - 90 * kDay);
  setProperty("_psmcount", APMValue::initWithInt64(2), now - kDay);
  setProperty("_psmcounth", APMValue::initWithInt64(1), now - kDay);
  world().onWorkerQueue([](APMMeasurement& engine) { engine.maybeDeleteExpiredPSMValueOnWorkerQueue(); });
  Stored after = stored();
  EXPECT_EQ(after.odmValues, (std::map<std::string, double>{{"odm1_session_value=recent", now - 89 * kDay}}));
  for (const char* name : {"_psmvalue", "_psmcount", "_psmcounth"}) EXPECT_EQ(after.properties.count(name), 0u) << name;

  // A younger property without its stored value gives the value back, with
  // the property's time.
  setProperty("_psmvalue", APMValue::initWithString(Value("kept")), now - 10 * kDay);
  world().onWorkerQueue([](APMMeasurement& engine) { engine.maybeDeleteExpiredPSMValueOnWorkerQueue(); });
  after = stored();
  EXPECT_EQ(after.properties.at("_psmvalue"), "kept");
  EXPECT_EQ(after.odmValues.at("odm1_value=kept"), now - 10 * kDay);
}

// Without a linked client (the application) nothing is queried.
TEST_F(OnDeviceConversionTest, WithoutAClientEveryQueryIsRefused) {
  start();
  EXPECT_FALSE(world().reported(23253));
  EXPECT_TRUE(world().reported(23279));
  userData({{"email_address", "ann@example.com"}});
  EXPECT_TRUE(world().reported(23233));
  world().onWorkerQueue([](APMMeasurement& engine) {
    engine.initiateODMSessionStartProtocolWithTimestamp(kEpoch);
    engine.initiateODMGroupIDProtocol();
  });
  EXPECT_TRUE(world().reported(23283));
  EXPECT_TRUE(world().reported(23309));
  EXPECT_TRUE(queries().empty());
  EXPECT_EQ(world().engine()->linkedOnDeviceConversionClientBits(), 0);
}

// The application has no store, no ad services and no outside clients: the
// reporters stay idle and report nothing worse than their absence.
TEST_F(OnDeviceConversionTest, InTheApplicationTheReportersStayIdle) {
  world().start();
  world().advance(2 * kDay);
  EXPECT_TRUE(world().reported(32014));  // no ad-attribution framework
  EXPECT_TRUE(world().reported(23279));  // no conversion service
  for (const int64_t code : {32015, 32017, 32018, 23254, 23268, 21027}) EXPECT_FALSE(world().reported(code)) << code;
  EXPECT_TRUE(world().services.requests("/api/v1/").empty());
}

// --- the second protocol ---------------------------------------------------------------------

class SecondProtocolTest : public OnDeviceConversionTest {
 protected:
  void update() {
    world().onWorkerQueue([](APMMeasurement& engine) { engine.updateAdsOnDeviceConversionMeasurement(); });
    world().settle();
  }
};

TEST_F(SecondProtocolTest, TheServiceIsAskedOnlyWhenEverySwitchIsOn) {
  struct Case {
    const char* name;
    std::optional<Value> plist;
    const char* setting;
    bool adStorageDenied;
    int64_t code;
  };
  const Case cases[] = {
      {"info switch off", Value(false), "1", false, 23295},
      {"setting off", std::nullopt, "0", false, 23275},
      {"ad storage denied", Value(true), "1", true, 23276},
      {"enabled", std::nullopt, "1", false, 23277},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    renew();
    if (c.plist) world().env.writeInfo(Dictionary{{"ZORUVU_ADS_ON_DEVICE_CONVERSION_EVENT_DATA_ENABLED", *c.plist}});
    auto service = testkit::FakeConversionService::install(10001, {{"v1", std::nullopt}});
    start({{"measurement.odm2_enabled", c.setting}});
    if (c.adStorageDenied) {
      ROZAdavurudo::setConsent(Dictionary{{"ad_storage", "denied"}});
      world().settle();
    }
    update();
    EXPECT_TRUE(world().reported(c.code));
    EXPECT_EQ(service->fetchCount(), c.code == 23277 ? 1 : 0);
    testkit::FakeConversionService::uninstall();
  }
}

TEST_F(SecondProtocolTest, NewValuesAreStoredOnceAndAnEmptyOneClears) {
  auto service = testkit::FakeConversionService::install(
      10001, {{"v1", std::nullopt}, {"v1", std::nullopt}, {"", platform::Error("odc", 3)}, {"", std::nullopt}});
  start();
  EXPECT_TRUE(world().reported(23278));
  update();
  update();  // the same value again
  EXPECT_TRUE(world().reported(23282));
  Stored after = stored();
  EXPECT_EQ(after.properties.at("_psmvalue_gads"), "v1");
  EXPECT_EQ(after.odmValues.count("odm2_value=v1"), 1u);
  EXPECT_EQ(conversionEvents(), (std::vector<std::string>{"psm_gads rt"}));
  // The first launch is the first open, in seconds.
  EXPECT_EQ(service->firstLaunchTimes().at(0), std::optional<double>(kFirstOpenMilliseconds / 1000.0));

  update();  // an error keeps the value
  EXPECT_TRUE(world().reported(23269));
  EXPECT_EQ(stored().properties.count("_psmvalue_gads"), 1u);

  update();  // empty
  EXPECT_TRUE(world().reported(23281));
  after = stored();
  EXPECT_EQ(after.properties.count("_psmvalue_gads"), 0u);
  EXPECT_TRUE(after.odmValues.empty());
  EXPECT_EQ(conversionEvents().size(), 1u);
  testkit::FakeConversionService::uninstall();
}

TEST_F(SecondProtocolTest, VersionsAboveTenThousandAreTheCurrentFramework) {
  for (const int64_t version : {10000, 10001}) {
    SCOPED_TRACE(version);
    renew();
    testkit::ScopedPrivateSetMembershipClient client;  // the alternate class: not the deprecated framework
    testkit::FakeConversionService::install(version, {});
    world().start();
    bool current = false;
    bool deprecated = false;
    int32_t bits = 0;
    world().onWorkerQueue([&](APMMeasurement& running) {
      current = running.isZoruvuAdsOnDeviceConversionLinked();
      deprecated = running.isAlphaAppAdsOnDeviceConversionLinked();
      bits = running.linkedOnDeviceConversionClientBits();
    });
    EXPECT_EQ(current, version > 10000);
    EXPECT_EQ(deprecated, version <= 10000);
    EXPECT_EQ(bits, version > 10000 ? 0b1010 : 0b0110);
    testkit::FakeConversionService::uninstall();
  }
}

}  // namespace

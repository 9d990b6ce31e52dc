// Events, clocks and product data: identifiers, creation rules, copies,
// equality and their archives.
#include <gtest/gtest.h>

#include <regex>

#include "platform/storage/KeyedArchiver.h"
#include "platform/time/Clock.h"
#include "platform/time/TimeZone.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/tests/TransportTesting.h"
#include "testing/LogCapture.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Bytes;
using transporttest::BytesObject;

// Archives an event as the storage does and decodes it back.
std::shared_ptr<ZDTCOREvent> roundTrip(const ZDTCOREvent& event) {
  ZDTCORArchiveResult archive = ZDTCOREncodeArchive(event);
  EXPECT_FALSE(archive.error);
  auto decoded = ZDTCORDecodeArchive(ZDTCOREvent::kClassName, archive.data.value_or(Bytes{}));
  return decoded ? std::dynamic_pointer_cast<ZDTCOREvent>(decoded.value()) : nullptr;
}

// An archive of hand-picked keys under the event's class name.
class PartialEvent : public platform::Archivable {
 public:
  explicit PartialEvent(std::function<void(platform::KeyedArchiver&)> write) : m_write(std::move(write)) {}
  std::string className() const override { return ZDTCOREvent::kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override { m_write(archiver); }

 private:
  std::function<void(platform::KeyedArchiver&)> m_write;
};

class ZDTCOREventTest : public testkit::VirtualClockFixture {
 protected:
  testkit::LogCapture logs;
};

TEST_F(ZDTCOREventTest, IdentifiersAreThirtyTwoUpperCaseHexDigitsAndUnique) {
  std::string first = ZDTCOREvent::nextEventID();
  EXPECT_TRUE(std::regex_match(first, std::regex("[0-9A-F]{32}"))) << first;
  EXPECT_NE(first, ZDTCOREvent::nextEventID());
}

TEST_F(ZDTCOREventTest, InvalidMappingIDOrTargetMakesNoEventAndReportsWhy) {
  const struct {
    std::string mappingID;
    int64_t target;
    std::vector<std::string> assertions;
  } cases[] = {
      {"", 1000, {"Please give a valid mapping ID"}},
      {"1249", 0, {"A target cannot be negative or 0"}},
      {"1249", -1, {"A target cannot be negative or 0"}},
      {"", -1, {"Please give a valid mapping ID", "A target cannot be negative or 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mappingID + "/" + std::to_string(c.target));
    logs.clear();
    EXPECT_EQ(ZDTCOREvent::initWithMappingID(c.mappingID, c.target), nullptr);
    std::vector<std::string> lines = logs.texts();
    ASSERT_EQ(lines.size(), c.assertions.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind("[ZoruvuDataTransport][I-ZDTCOR001006] (", 0), 0u) << lines[i];
      EXPECT_TRUE(lines[i].ends_with(") : " + c.assertions[i])) << lines[i];
    }
  }
}

TEST_F(ZDTCOREventTest, NewEventHasDefaultTierAndExpiresInSevenDays) {
  auto event = ZDTCOREvent::initWithMappingID("1249", ZDTCORProductData(7), 1000);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->qosTier(), 3);
  EXPECT_EQ(event->expirationDate(), clock->now() + 604800);
  EXPECT_EQ(event->mappingID(), "1249");
  EXPECT_EQ(event->target(), 1000);
  EXPECT_EQ(event->productData(), ZDTCORProductData(7));
  EXPECT_FALSE(event->serializedDataObjectBytes());
}

TEST_F(ZDTCOREventTest, DataObjectSetsAndClearsThePayloadBytes) {
  auto event = ZDTCOREvent::initWithMappingID("1249", 1000);
  event->setDataObject(std::make_shared<BytesObject>("abc"));
  EXPECT_EQ(event->serializedDataObjectBytes(), Bytes({'a', 'b', 'c'}));
  event->setDataObject(nullptr);
  EXPECT_FALSE(event->serializedDataObjectBytes());
}

TEST_F(ZDTCOREventTest, CopyKeepsIdentityButTakesAFreshExpiration) {
  auto event = ZDTCOREvent::initWithMappingID("1249", ZDTCORProductData(3), 1000);
  event->setDataObject(std::make_shared<BytesObject>("abc"));
  event->setQosTier(4);
  event->setClockSnapshot(ZDTCORClock(1, 2, 3, 4));
  event->setCustomBytes(Bytes{9});
  clock->advance(100);
  auto copy = event->copy();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->eventID(), event->eventID());
  EXPECT_EQ(copy->expirationDate(), *event->expirationDate() + 100);
  EXPECT_EQ(copy->customBytes(), event->customBytes());
  EXPECT_TRUE(copy->isEqual(*event));
  EXPECT_EQ(copy->hash(), event->hash());
  // The identifier is part of the identity.
  copy->setEventID(ZDTCOREvent::nextEventID());
  EXPECT_FALSE(copy->isEqual(*event));
}

TEST_F(ZDTCOREventTest, ArchiveRoundTripsWithAndWithoutOptionalParts) {
  auto full = ZDTCOREvent::initWithMappingID("1249", ZDTCORProductData(-5), 1000);
  full->setDataObject(std::make_shared<BytesObject>("payload"));
  full->setQosTier(4);
  full->setClockSnapshot(ZDTCORClock(1700000000123, 3600, 1699990000000000000, 10000123000000));
  full->setCustomBytes(Bytes{'{', '}'});
  auto minimal = ZDTCOREvent::initWithMappingID("1710", 1002);
  minimal->setDataObject(std::make_shared<BytesObject>(Bytes{}));  // empty payload bytes are still bytes

  for (const auto& event : {full, minimal}) {
    std::shared_ptr<ZDTCOREvent> decoded = roundTrip(*event);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(decoded->isEqual(*event));
    EXPECT_EQ(decoded->expirationDate(), event->expirationDate());
    EXPECT_EQ(decoded->customBytes(), event->customBytes());
    EXPECT_EQ(decoded->serializedDataObjectBytes(), event->serializedDataObjectBytes());
    EXPECT_EQ(decoded->clockSnapshot(), event->clockSnapshot());
    EXPECT_EQ(decoded->productData(), event->productData());
  }
}

TEST_F(ZDTCOREventTest, DecodingNeedsPayloadBytesAndReplacesAMissingIdentifier) {
  auto withoutID = PartialEvent([](platform::KeyedArchiver& archiver) {
    archiver.encodeObject(ZDTCOREvent::kMappingIDKey, platform::Value("1249"));
    archiver.encodeObject(ZDTCOREvent::kSerializedDataObjectBytesKey, platform::Value::data(Bytes{1}));
  });
  auto decoded = ZDTCORDecodeArchive(ZDTCOREvent::kClassName, ZDTCOREncodeArchive(withoutID).data.value());
  ASSERT_TRUE(decoded);
  auto event = std::dynamic_pointer_cast<ZDTCOREvent>(decoded.value());
  EXPECT_TRUE(std::regex_match(event->eventID(), std::regex("[0-9A-F]{32}")));
  EXPECT_EQ(event->target(), 0);
  EXPECT_EQ(event->qosTier(), 0);

  const std::vector<std::function<void(platform::KeyedArchiver&)>> broken = {
      // No payload bytes.
      [](platform::KeyedArchiver& archiver) {
        archiver.encodeObject(ZDTCOREvent::kEventIDKey, platform::Value("ABC"));
      },
      // A value of the wrong class.
      [](platform::KeyedArchiver& archiver) {
        archiver.encodeObject(ZDTCOREvent::kMappingIDKey, platform::Value(1249));
        archiver.encodeObject(ZDTCOREvent::kSerializedDataObjectBytesKey, platform::Value::data(Bytes{1}));
      },
  };
  for (const auto& write : broken) {
    PartialEvent partial(write);
    EXPECT_FALSE(ZDTCORDecodeArchive(ZDTCOREvent::kClassName, ZDTCOREncodeArchive(partial).data.value()));
  }
  EXPECT_FALSE(ZDTCORDecodeArchive(ZDTCOREvent::kClassName, Bytes{'x', 'y'}));
}

TEST_F(ZDTCOREventTest, ClockSnapshotUsesTheKernelBootTimeAndOrdersByBootFirst) {
  clock->setSinceBoot(1000.25);
  ZDTCORClock snapshot = ZDTCORClock::snapshot();
  const int64_t boot = clock->kernelBootTime();
  EXPECT_EQ(snapshot.kernelBootTimeNanoseconds(), boot * 1000000000);
  EXPECT_EQ(snapshot.timeMillis(), static_cast<int64_t>(clock->now() * 1000));
  EXPECT_EQ(snapshot.uptimeNanoseconds(),
            static_cast<int64_t>((clock->now() - static_cast<double>(boot)) * 1e6) * 1000);
  EXPECT_EQ(snapshot.timezoneOffsetSeconds(), platform::TimeZone::currentGmtOffset());
  EXPECT_EQ(snapshot.uptimeMilliseconds(), snapshot.uptimeNanoseconds() / 1000000);
  // Later snapshots of the same boot share its boot time.
  clock->advance(5);
  EXPECT_EQ(ZDTCORClock::snapshot().kernelBootTimeNanoseconds(), snapshot.kernelBootTimeNanoseconds());
  EXPECT_EQ(ZDTCORClock::clockSnapshotInTheFuture(60000).timeMillis(), snapshot.timeMillis() + 5000 + 60000);

  const struct {
    ZDTCORClock a, b;
    bool aAfterB;
  } cases[] = {
      {{10, 0, 2, 0}, {99, 0, 1, 0}, true},     // a later boot wins whatever the time
      {{99, 0, 1, 0}, {10, 0, 2, 0}, false},
      {{10, 5, 1, 0}, {12, 0, 1, 0}, true},     // same boot: time plus offset
      {{10, 0, 1, 0}, {10, 0, 1, 0}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.a.isAfter(c.b), c.aAfterB);
}

TEST_F(ZDTCOREventTest, ProductDataComparesByIdentifier) {
  EXPECT_EQ(ZDTCORProductData(5), ZDTCORProductData(5));
  EXPECT_FALSE(ZDTCORProductData(5) == ZDTCORProductData(6));
  EXPECT_EQ(ZDTCORProductData(5).hash(), 5u);
}

}  // namespace

// Upload wire messages: golden bytes of a batch request and of single
// events, the 16-bit limits, the response decoder, compression and the
// custom-bytes annotations.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdio>

#include "platform/crypto/Digest.h"
#include "platform/crypto/Gzip.h"
#include "sdk/transport/ZDTCCTCompressionHelper.h"
#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "sdk/transport/tests/TransportTesting.h"
#include "testing/LogCapture.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Bytes;
using transporttest::BytesObject;

Bytes unhex(const std::string& text) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string hexText(const std::string& text) { return platform::Digest::hex(Bytes(text.begin(), text.end())); }

// A length-delimited field: tag, one-byte length, content (all hex).
std::string field(const std::string& tag, const std::string& content) {
  char length[3];
  std::snprintf(length, sizeof length, "%02x", static_cast<unsigned>(content.size() / 2));
  return tag + length + content;
}

std::shared_ptr<ZDTCOREvent> eventAt(const std::string& mappingID, const std::string& payloadHex, ZDTCORClock clock) {
  auto event = ZDTCOREvent::initWithMappingID(mappingID, 1000);
  event->setDataObject(std::make_shared<BytesObject>(unhex(payloadHex)));
  event->setClockSnapshot(clock);
  return event;
}

class ZDTCCTNanopbHelpersTest : public testkit::VirtualClockFixture {};

TEST_F(ZDTCCTNanopbHelpersTest, BatchRequestGoldenBytes) {
  // Two mapping IDs make two entries, each with the client description and
  // the sending time of the (virtual) clock: 1700000000000 ms, 4600 s uptime.
  ZDTCOREventSet events = {
      eventAt("1710", "ff", ZDTCORClock(1700000000999, 3600, 0, 5000000000)),
      eventAt("1249", "0a0b", ZDTCORClock(1700000000123, -18000, 0, 98765432100)),
  };
  struct utsname names {};
  ASSERT_EQ(::uname(&names), 0);
  long major = 0, minor = 0, patch = 0;
  std::sscanf(names.release, "%ld.%ld.%ld", &major, &minor, &patch);
  const std::string shortVersion = std::to_string(major) + "." + std::to_string(minor);
  const std::string client =
      "080f" + field("6a", field("0a", hexText(shortVersion)) +
                               field("12", hexText(shortVersion + "." + std::to_string(patch))) + "1a0131" +
                               "3a0d636f6d2e74617669782e617070");
  const std::string sent = "2080d095ffbc3140c0e19802";
  const std::string expected =
      field("0a", field("0a", client) + "10e109" + field("1a", "08fbd095ffbc3132020a0b789f99028801cd8306") + sent) +
      field("0a", field("0a", client) + "10ae0d" + field("1a", "08e7d795ffbc313201ff78a03888018827") + sent);
  EXPECT_EQ(platform::Digest::hex(ZDTCCTEncodeBatchedLogRequest(events)), expected);
}

TEST_F(ZDTCCTNanopbHelpersTest, SingleEventEncodings) {
  const ZDTCORClock clock(1700000000123, -18000, 0, 98765432100);
  auto plain = eventAt("1249", "0a0b", clock);
  auto full = ZDTCOREvent::initWithMappingID("1249", ZDTCORProductData(7), 1000);
  full->setDataObject(std::make_shared<BytesObject>(unhex("0a0b")));
  full->setClockSnapshot(clock);
  full->setEventCode(42);
  auto noPayload = ZDTCOREvent::initWithMappingID("1249", 1000);
  noPayload->setClockSnapshot(ZDTCORClock());
  // A network record with kind -1 and no presence flags: an empty network
  // field, written only because the annotation is there.
  auto emptyNetwork = ZDTCOREvent::initWithMappingID("1249", 1000);
  emptyNetwork->setClockSnapshot(ZDTCORClock());
  zdt_cct_NetworkConnectionInfo none = zdt_cct_NetworkConnectionInfo_init_default;
  emptyNetwork->setNetworkConnectionInfoData(ZDTCCTNetworkConnectionInfoRecord(none));
  auto wifi = ZDTCOREvent::initWithMappingID("1249", 1000);
  wifi->setClockSnapshot(ZDTCORClock());
  wifi->setNetworkConnectionInfoData(unhex("01000000010000000100000008000000"));
  // A code outside 32 bits is left out rather than cut.
  auto hugeCode = ZDTCOREvent::initWithMappingID("1249", 1000);
  hugeCode->setClockSnapshot(ZDTCORClock());
  hugeCode->setEventCode(int64_t(1) << 40);

  const struct {
    const char* name;
    std::shared_ptr<ZDTCOREvent> event;
    const char* hex;
  } cases[] = {
      {"fields 1, 6, 15 and 17 only", plain, "08fbd095ffbc3132020a0b789f99028801cd8306"},
      {"event code and compliance", full, "08fbd095ffbc3132020a0b582a789f99028801cd83068a02080a04120268071005"},
      {"empty payload still written", noPayload, "080032007800880100"},
      {"empty network record", emptyNetwork, "080032007800880100ba0100"},
      {"wifi with a mobile subtype", wifi, "080032007800880100ba010408011008"},
      {"code beyond 32 bits", hugeCode, "080032007800880100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::Result<Bytes> encoded = ZDTCCTEncodeLogEvent(*c.event);
    ASSERT_TRUE(encoded.ok());
    EXPECT_EQ(platform::Digest::hex(encoded.value()), c.hex);
  }
}

TEST_F(ZDTCCTNanopbHelpersTest, SourceIDsAreTheMappingIDsLeadingDigits) {
  ZDTCOREventSet events;
  for (const char* mappingID : {"1249", "1710", "12ab", "abc"}) {
    events.push_back(eventAt(mappingID, "01", ZDTCORClock()));
  }
  const std::string hex = platform::Digest::hex(ZDTCCTEncodeBatchedLogRequest(events));
  // Entries sorted by mapping ID: 1249, 1710, 12ab (12), abc (0).
  for (const char* sourceID : {"10e109", "10ae0d", "100c", "1000"}) {
    EXPECT_NE(hex.find(sourceID), std::string::npos) << sourceID;
  }
  EXPECT_LT(hex.find("10e109"), hex.find("10ae0d"));
}

TEST_F(ZDTCCTNanopbHelpersTest, SixteenBitLimitsFailTheWholeEncodingInsteadOfCuttingIt) {
  testkit::LogCapture logs;
  const std::string atLimit(65535, 'x');
  const std::string overLimit(65536, 'x');
  auto event = [](const std::string& payload, const std::string& mappingID = "1249") {
    return transporttest::makeEvent(mappingID, 1000, 3, payload);
  };
  EXPECT_FALSE(ZDTCCTEncodeBatchedLogRequest({event(atLimit)}).empty());
  EXPECT_TRUE(ZDTCCTEncodeBatchedLogRequest({event(overLimit)}).empty());
  EXPECT_TRUE(ZDTCCTEncodeBatchedLogRequest({event("a"), event(overLimit, "1710")}).empty());
  EXPECT_FALSE(ZDTCCTEncodeLogEvent(*event(overLimit)).ok());
  EXPECT_TRUE(logs.contains("Error in nanopb encoding for size: payload of 65536 bytes is over the 65535-byte limit"));

  // 65,535 events of one mapping ID fit; one more does not.
  ZDTCOREventSet many(65535, event("p"));
  EXPECT_FALSE(ZDTCCTEncodeBatchedLogRequest(many).empty());
  many.push_back(event("p"));
  EXPECT_TRUE(ZDTCCTEncodeBatchedLogRequest(many).empty());
  EXPECT_TRUE(logs.contains("events: 65536 entries are over the 65535-entry limit"));
}

TEST(ZDTCCTResponseTest, DecodesScriptedAnswersAndRefusesDamagedOnes) {
  const struct {
    const char* hex;
    bool ok;
    std::optional<int64_t> nextWaitMs;
    size_t tiers;
  } cases[] = {
      {"", true, std::nullopt, 0},
      {"0800", true, 0, 0},  // present and 0: wait 0 ms
      {"08e0d403", true, 60000, 0},
      {"08051a090a05100218e1091009", true, 5, 1},
      {"08", false, std::nullopt, 0},
      {"1a050a0310", false, std::nullopt, 0},
      {"ffffffff", false, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex);
    platform::Result<ZDTCCTLogResponse> decoded = ZDTCCTDecodeLogResponse(unhex(c.hex));
    ASSERT_EQ(decoded.ok(), c.ok);
    if (!c.ok) {
      EXPECT_EQ(decoded.error().domain, "NSURLErrorDomain");
      EXPECT_EQ(decoded.error().code, -1);
      EXPECT_TRUE(decoded.error().userInfo.get(kZDTCCTNanopbErrorKey).isString());
      continue;
    }
    EXPECT_EQ(decoded->nextWaitMs, c.nextWaitMs);
    EXPECT_EQ(decoded->tierSettings.size(), c.tiers);
  }
}

TEST(ZDTCCTCompressionHelperTest, GzipsAndRecognisesGzip) {
  EXPECT_FALSE(ZDTCCTCompressionHelper::gzippedData({}).has_value());
  EXPECT_FALSE(ZDTCCTCompressionHelper::isGzipped({0x1f}));
  EXPECT_FALSE(ZDTCCTCompressionHelper::isGzipped({}));
  EXPECT_TRUE(ZDTCCTCompressionHelper::isGzipped({0x1f, 0x8b}));
  const Bytes plain(5000, 'a');
  std::optional<Bytes> compressed = ZDTCCTCompressionHelper::gzippedData(plain);
  ASSERT_TRUE(compressed.has_value());
  EXPECT_TRUE(ZDTCCTCompressionHelper::isGzipped(*compressed));
  EXPECT_LT(compressed->size(), plain.size());
  auto inflated = platform::Gzip::inflate(*compressed);
  ASSERT_TRUE(inflated.ok() && inflated.value().has_value());
  EXPECT_EQ(*inflated.value(), plain);
}

TEST(ZDTCCTNetworkRecordTest, RecordsRoundTripAndSubtypesMap) {
  zdt_cct_NetworkConnectionInfo info = zdt_cct_NetworkConnectionInfo_init_default;
  info.has_network_type = true;
  info.network_type = 0;
  info.has_mobile_subtype = true;
  info.mobile_subtype = 13;
  const Bytes record = ZDTCCTNetworkConnectionInfoRecord(info);
  EXPECT_EQ(platform::Digest::hex(record), "0100000000000000010000000d000000");
  zdt_cct_NetworkConnectionInfo back = ZDTCCTNetworkConnectionInfoFromRecord(record);
  EXPECT_TRUE(back.has_network_type && back.has_mobile_subtype);
  EXPECT_EQ(back.network_type, 0);
  EXPECT_EQ(back.mobile_subtype, 13u);
  // A short record reads as padded with zeros; a longer one is cut at 16.
  zdt_cct_NetworkConnectionInfo shortRecord = ZDTCCTNetworkConnectionInfoFromRecord({1, 0, 0, 0, 0xff});
  EXPECT_TRUE(shortRecord.has_network_type);
  EXPECT_EQ(shortRecord.network_type, 0xff);
  EXPECT_FALSE(shortRecord.has_mobile_subtype);
  EXPECT_EQ(ZDTCCTConstructNetworkConnectionInfoData().size(), kZDTCCTNetworkRecordSize);

  const uint32_t wire[] = {0, 1, 2, 0, 8, 9, 4, 5, 6, 12, 14, 13, 0};
  for (int32_t platformSubtype = 0; platformSubtype <= 12; ++platformSubtype) {
    EXPECT_EQ(ZDTCCTMobileSubtypeForPlatformSubtype(platformSubtype), wire[platformSubtype]) << platformSubtype;
  }
  EXPECT_EQ(ZDTCCTMobileSubtypeForPlatformSubtype(-1), 0u);
}

TEST(ZDTCOREventAnnotationsTest, CustomBytesHoldTheAnnotationsAsOneJsonObject) {
  auto text = [](const std::shared_ptr<ZDTCOREvent>& event) {
    return event->customBytes() ? std::string(event->customBytes()->begin(), event->customBytes()->end())
                                : std::string("(none)");
  };
  auto event = ZDTCOREvent::initWithMappingID("1249", 1000);
  EXPECT_FALSE(event->needsNetworkConnectionInfoPopulated());
  EXPECT_EQ(event->eventCode(), std::nullopt);
  event->setEventCode(std::nullopt);  // nothing to remove: stays without bytes
  EXPECT_EQ(text(event), "(none)");

  event->setNeedsNetworkConnectionInfoPopulated(true);
  event->setEventCode(-12);
  event->setNetworkConnectionInfoData({1, 2, 3});
  EXPECT_EQ(text(event), R"({"needs_network_connection_info":true,"event_code_info":"-12","network_connection_info":"AQID"})");
  EXPECT_TRUE(event->needsNetworkConnectionInfoPopulated());
  EXPECT_EQ(event->eventCode(), -12);
  EXPECT_EQ(event->networkConnectionInfoData(), (Bytes{1, 2, 3}));

  // Clearing the flag keeps the event code alone.
  event->setNeedsNetworkConnectionInfoPopulated(false);
  EXPECT_EQ(text(event), R"({"event_code_info":"-12"})");
  event->setEventCode(std::nullopt);
  EXPECT_EQ(text(event), "{}");

  // Bytes that are no JSON object read as no annotation and are kept as they are.
  testkit::LogCapture logs;
  const int savedLevel = ZDTCORConsoleLoggerLoggingLevel();
  ZDTCORSetConsoleLoggerLoggingLevel(ZDTCORLoggingLevelDebug);
  for (const std::string damaged : {"not json", "[1,2]", R"({"network_connection_info":"%%%","event_code_info":"x"})"}) {
    SCOPED_TRACE(damaged);
    event->setCustomBytes(Bytes(damaged.begin(), damaged.end()));
    EXPECT_FALSE(event->needsNetworkConnectionInfoPopulated());
    EXPECT_EQ(event->networkConnectionInfoData(), std::nullopt);
    EXPECT_EQ(event->eventCode(), std::nullopt);
    if (damaged[0] != '{') {
      event->setEventCode(5);
      event->setNeedsNetworkConnectionInfoPopulated(true);
      event->setNetworkConnectionInfoData({9});
      EXPECT_EQ(text(event), damaged);
    }
  }
  ZDTCORSetConsoleLoggerLoggingLevel(savedLevel);
  EXPECT_TRUE(logs.contains("Error when setting an event's event_code"));
}

}  // namespace

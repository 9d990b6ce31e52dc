// Heartbeat storage, controller, payload and logger: the stored file forms,
// one heartbeat per UTC day, the header value, and the shared storage table.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/UserDefaults.h"
#include "platform/time/Calendar.h"
#include "platform/time/ReferenceDate.h"
#include "sdk/core/HeartbeatController.h"
#include "sdk/core/HeartbeatStorage.h"
#include "sdk/core/HeartbeatsBundle.h"
#include "sdk/core/RIRHeartbeatLogger.h"
#include "sdk/core/RingBuffer.h"
#include "sdk/core/tests/SdkCoreFixture.h"
#include "testing/Fixtures.h"
#include "testing/TempHome.h"
#include "testing/VirtualClockFixture.h"

namespace {

using namespace RirivuduCoreInternal;

constexpr const char* kID = "1:123:ios:abc";

// Noon UTC of 2024-05-<day> (day may run past the month's end).
double mayNoon(int day) {
  return *platform::Calendar::utcTimestamp({2024, 5, 1, 12, 0, 0}) + (day - 1) * 86400.0;
}
double midnightOf(double time) { return platform::Calendar::utcStartOfDay(time); }

// The payload entries as (agent, "yyyy-MM-dd" dates) for compact comparison.
using Entries = std::vector<std::pair<std::string, std::vector<std::string>>>;
Entries entriesOf(const HeartbeatsPayload& payload) {
  Entries entries;
  for (const auto& entry : payload.userAgentPayloads) {
    std::vector<std::string> dates;
    for (double date : entry.dates) dates.push_back(HeartbeatsPayload::dateFormatter().format(date));
    entries.emplace_back(entry.agent, dates);
  }
  return entries;
}

platform::Value decodeHeader(const std::string& header) {
  std::optional<platform::Bytes> gzipped = base64URLEncoded(header);
  EXPECT_TRUE(gzipped);
  if (!gzipped) return {};
  std::optional<platform::Bytes> json = unzipped(*gzipped);
  EXPECT_TRUE(json);
  if (!json) return {};
  platform::Result<platform::Value> value = platform::Json::parse(*json);
  EXPECT_TRUE(value);
  return value ? *value : platform::Value();
}

// --- ring buffer -------------------------------------------------------------------

TEST(RingBufferTest, PushWrapsAndPopStepsBack) {
  RingBuffer<std::string> ring(3);
  std::vector<std::optional<std::string>> displaced;
  for (const char* element : {"A", "B", "C", "D"}) {
    displaced.push_back(std::get<std::optional<std::string>>(ring.pushElement(element)));
  }
  EXPECT_EQ(displaced, (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt, std::nullopt, "A"}));
  EXPECT_EQ(ring.elements(), (std::vector<std::string>{"D", "B", "C"}));
  EXPECT_EQ(ring.tailIndex(), 1);

  RingBuffer<std::string> five({"A", "B", "C", std::nullopt, std::nullopt}, 3);
  EXPECT_EQ(five.popElement(), "C");
  EXPECT_EQ(five.tailIndex(), 2);
  RingBuffer<std::string> atZero({"A", std::nullopt, "Z"}, 0);
  EXPECT_EQ(atZero.popElement(), "Z");  // index 0 looks at the last slot
  EXPECT_EQ(atZero.tailIndex(), 2);

  RingBuffer<std::string> none(0);
  EXPECT_EQ(std::get<std::optional<std::string>>(none.pushElement("A")), std::nullopt);
  EXPECT_TRUE(none.elements().empty());
  EXPECT_EQ(none.popElement(), std::nullopt);
}

TEST(RingBufferTest, OutOfRangeTailFailsPushAndPopsNothing) {
  for (int64_t tail : {3, -1, 7}) {
    SCOPED_TRACE(tail);
    RingBuffer<std::string> ring({"A", "B", "C"}, tail);
    auto pushed = ring.pushElement("X");
    ASSERT_TRUE(std::holds_alternative<OutOfBoundsPush>(pushed));
    EXPECT_EQ(std::get<OutOfBoundsPush>(pushed), (OutOfBoundsPush{tail, 3}));
    EXPECT_EQ(ring.elements(), (std::vector<std::string>{"A", "B", "C"}));
  }
  EXPECT_EQ((OutOfBoundsPush{3, 3}).description(), "Out-of-bounds push at index 3 to ring buffer withend index of 3.");
  // Stepping back from 7 lands on 6, still outside: nothing is read.
  RingBuffer<std::string> far({"A", "B", "C"}, 7);
  EXPECT_EQ(far.popElement(), std::nullopt);
}

TEST(HeartbeatsBundleTest, FailedPushLeavesOneDiagnosticHeartbeat) {
  HeartbeatsBundle bundle(3, {{TimePeriod::daily, 0.0}},
                          RingBuffer<Heartbeat>({Heartbeat{"old", 0, 0, {TimePeriod::daily}}, std::nullopt,
                                                 std::nullopt},
                                                3));
  double today = midnightOf(mayNoon(1));
  bundle.addHeartbeat(Heartbeat{"agent", today, 0, {TimePeriod::daily}});
  ASSERT_EQ(bundle.buffer.elements().size(), 1u);
  EXPECT_EQ(bundle.buffer.elements()[0].agent,
            "agent error/Out-of-bounds-push-at-index-3-to-ring-buffer-withend-index-of-3.");
  EXPECT_EQ(bundle.capacity, 3);
  EXPECT_EQ(bundle.lastAddedHeartbeatDates.at(TimePeriod::daily), today);
}

// --- controller on a file in a temporary home, on a virtual clock ---------------------

class HeartbeatControllerTest : public testkit::VirtualClockFixture {
 protected:
  void at(double time) { clock->setNow(time); }
  // Logs and waits until the write is done.
  void logAt(HeartbeatController& controller, double time, const std::string& agent) {
    at(time);
    controller.log(agent);
    controller.storage()->updateSync([](std::optional<HeartbeatsBundle> b) { return b; });
  }
  std::string path() const { return FileStorage::pathForID(kID); }
  platform::Value storedJson() const {
    auto bytes = platform::fs::readFile(path());
    EXPECT_TRUE(bytes);
    auto json = platform::Json::parse(*bytes);
    EXPECT_TRUE(json) << "file is not JSON";
    return json ? *json : platform::Value();
  }
  void writeStored(const std::string& text) {
    ASSERT_FALSE(platform::fs::createDirectory(platform::fs::parentPath(path())));
    ASSERT_FALSE(platform::fs::writeFile(path(), text));
  }

  testkit::TempHome home;
};

TEST_F(HeartbeatControllerTest, StoredFormOfTheFirstHeartbeat) {
  HeartbeatController controller(kID);
  logAt(controller, mayNoon(1), "agent/1");
  EXPECT_EQ(path(), home.dataHome() + "/com.tavix.app/zoruvu-heartbeat-storage/heartbeats-1_123_ios_abc");

  double day2001 = platform::ReferenceDate::since2001(midnightOf(mayNoon(1)));
  platform::Value json = storedJson();
  EXPECT_EQ(json["capacity"], platform::Value(30));
  EXPECT_EQ(json["lastAddedHeartbeatDates"], platform::Value::array({1, day2001}));
  EXPECT_EQ(json["buffer"]["tailIndex"], platform::Value(1));
  ASSERT_EQ(json["buffer"]["circularQueue"].asArray()->size(), 30u);
  EXPECT_EQ(json["buffer"]["circularQueue"][0],
            platform::Value::dict({{"agent", "agent/1"}, {"date", day2001}, {"version", 0},
                                   {"timePeriods", platform::Value::array({1})}}));
  EXPECT_TRUE(json["buffer"]["circularQueue"][1].isNull());

  // Flushing empties the buffer and keeps the day: no second heartbeat today.
  EXPECT_EQ(entriesOf(controller.flush()), (Entries{{"agent/1", {"2024-05-01"}}}));
  logAt(controller, mayNoon(1) + 3600, "agent/2");
  EXPECT_EQ(controller.flush(), HeartbeatsPayload::empty());
  EXPECT_EQ(storedJson()["lastAddedHeartbeatDates"], platform::Value::array({1, day2001}));
}

TEST_F(HeartbeatControllerTest, OneHeartbeatPerUtcDay) {
  double midnight2 = midnightOf(mayNoon(2));
  struct Case {
    const char* name;
    std::vector<std::pair<double, std::string>> logs;
    Entries expected;
  };
  const std::vector<Case> cases = {
      {"same day, other agent", {{midnightOf(mayNoon(1)), "A"}, {midnight2 - 1, "B"}}, {{"A", {"2024-05-01"}}}},
      {"23:59:59 then 00:00:00", {{midnight2 - 1, "A"}, {midnight2, "B"}},
       {{"A", {"2024-05-01"}}, {"B", {"2024-05-02"}}}},
      {"clock set back", {{mayNoon(3), "A"}, {mayNoon(2), "B"}, {mayNoon(3) + 3600, "C"}, {mayNoon(4), "D"}},
       {{"A", {"2024-05-03"}}, {"D", {"2024-05-04"}}}},
      {"grouped by agent in slot order", {{mayNoon(1), "B"}, {mayNoon(2), "A"}, {mayNoon(3), "B"}},
       {{"A", {"2024-05-02"}}, {"B", {"2024-05-01", "2024-05-03"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::fs::removeItem(path());
    HeartbeatController controller(kID);
    for (const auto& [time, agent] : c.logs) logAt(controller, time, agent);
    EXPECT_EQ(entriesOf(controller.flush()), c.expected);
  }
}

TEST_F(HeartbeatControllerTest, ThirtyOneDaysKeepTheLastThirty) {
  HeartbeatController controller(kID);
  for (int day = 1; day <= 31; ++day) logAt(controller, mayNoon(day), "agent");
  platform::Value json = storedJson();
  EXPECT_EQ(json["buffer"]["circularQueue"][0]["date"],
            platform::Value(platform::ReferenceDate::since2001(midnightOf(mayNoon(31)))));
  HeartbeatsPayload payload = controller.flush();
  ASSERT_EQ(payload.userAgentPayloads.size(), 1u);
  std::vector<double>& dates = payload.userAgentPayloads[0].dates;
  ASSERT_EQ(dates.size(), 30u);
  EXPECT_EQ(dates.front(), midnightOf(mayNoon(31)));  // slot 0 first
  EXPECT_EQ(dates[1], midnightOf(mayNoon(2)));
}

// A file written by an earlier run: valid ones are read, every other one is
// no bundle, so today's log records a fresh heartbeat and the file is replaced.
TEST_F(HeartbeatControllerTest, StoredFileForms) {
  double yesterday = platform::ReferenceDate::since2001(midnightOf(mayNoon(1)));
  auto heartbeat = [&](const std::string& extra = {}, const std::string& drop = {}) {
    std::string text = "{";
    if (drop != "agent") text += "\"agent\":\"old\",";
    if (drop != "date") text += "\"date\":" + std::to_string(yesterday) + ",";
    if (drop != "version") text += "\"version\":0,";
    if (drop != "timePeriods") text += "\"timePeriods\":[1" + extra + "],";
    text.back() = '}';
    return text;
  };
  auto bundle = [&](const std::string& slot, int capacity = 3, int slots = 3, int tail = 1,
                    const std::string& drop = {}, const std::string& period = "1") {
    std::string queue = slot;
    for (int i = 1; i < slots; ++i) queue += ",null";
    std::string text = "{";
    if (drop != "capacity") text += "\"capacity\":" + std::to_string(capacity) + ",";
    if (drop != "lastAddedHeartbeatDates")
      text += "\"lastAddedHeartbeatDates\":[" + period + "," + std::to_string(yesterday) + "],";
    if (drop != "buffer") {
      text += "\"buffer\":{";
      if (drop != "circularQueue") text += "\"circularQueue\":[" + queue + "],";
      if (drop != "tailIndex") text += "\"tailIndex\":" + std::to_string(tail) + ",";
      text.back() = '}';
      text += ",";
    }
    text.back() = '}';
    return text;
  };

  const Entries kept = {{"new", {"2024-05-02"}}, {"old", {"2024-05-01"}}};
  const Entries replaced = {{"new", {"2024-05-02"}}};
  struct Case {
    std::string name;
    std::string text;
    Entries expected;
  };
  std::vector<Case> cases = {
      {"valid", bundle(heartbeat()), kept},
      {"valid, dates as integers", bundle(heartbeat()), kept},
      {"empty file", "", replaced},
      {"not JSON", "{\"capacity\":", replaced},
      {"other time period in a heartbeat", bundle(heartbeat(",2")), replaced},
      {"other time period in the day records", bundle(heartbeat(), 3, 3, 1, {}, "2"), replaced},
      {"tail index equal to the slot count", bundle(heartbeat(), 3, 3, 3), replaced},
      {"negative tail index", bundle(heartbeat(), 3, 3, -1), replaced},
      {"tail index far outside", bundle(heartbeat(), 3, 3, 40), replaced},
      {"fewer slots than capacity", bundle(heartbeat(), 30, 3, 1), replaced},
      {"no slots", bundle("null", 0, 0, 0).replace(bundle("null", 0, 0, 0).find("[null]"), 6, "[]"), replaced},
  };
  // Dates written as integers read the same as doubles.
  cases[1].text.replace(cases[1].text.find(std::to_string(yesterday)), std::to_string(yesterday).size(),
                        std::to_string(static_cast<int64_t>(yesterday)));
  // Dates beyond any calendar (a damaged file) make no bundle either.
  const std::string day = std::to_string(yesterday);
  std::string farHeartbeat = heartbeat();
  farHeartbeat.replace(farHeartbeat.find(day), day.size(), "3.6e71");
  cases.push_back({"heartbeat date beyond any calendar", bundle(farHeartbeat), replaced});
  std::string farRecord = bundle(heartbeat());
  farRecord.replace(farRecord.find(day), day.size(), "-1e300");
  cases.push_back({"day record beyond any calendar", farRecord, replaced});
  for (const char* key : {"capacity", "lastAddedHeartbeatDates", "buffer", "circularQueue", "tailIndex"}) {
    cases.push_back({std::string("missing ") + key, bundle(heartbeat(), 3, 3, 1, key), replaced});
  }
  for (const char* key : {"agent", "date", "version", "timePeriods"}) {
    cases.push_back({std::string("heartbeat missing ") + key, bundle(heartbeat({}, key)), replaced});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + ": " + c.text);
    writeStored(c.text);
    HeartbeatController controller(kID);
    logAt(controller, mayNoon(2), "new");
    EXPECT_EQ(storedJson()["capacity"].description(), c.expected == kept ? "3" : "30");
    EXPECT_EQ(entriesOf(controller.flush()), c.expected);
  }
}

// Without the check on decoding, the out-of-range tail would make the log
// replace the bundle with a heartbeat named after the push failure.
TEST_F(HeartbeatControllerTest, OutOfRangeTailIsNoBundleNotARepair) {
  double yesterday = platform::ReferenceDate::since2001(midnightOf(mayNoon(1)));
  std::string old = "{\"agent\":\"old\",\"date\":" + std::to_string(yesterday) + ",\"version\":0,\"timePeriods\":[1]}";
  std::string slots = old;
  for (int i = 1; i < 30; ++i) slots += ",null";
  writeStored("{\"capacity\":30,\"lastAddedHeartbeatDates\":[1," + std::to_string(yesterday) +
              "],\"buffer\":{\"circularQueue\":[" + slots + "],\"tailIndex\":31}}");
  HeartbeatController controller(kID);
  at(mayNoon(1));
  EXPECT_TRUE(controller.flushHeartbeatFromToday().isEmpty());  // never reads past the slots
  logAt(controller, mayNoon(2), "new");
  EXPECT_EQ(entriesOf(controller.flush()), (Entries{{"new", {"2024-05-02"}}}));
}

TEST_F(HeartbeatControllerTest, HeaderValueDecodesToThePayloadJson) {
  HeartbeatController controller(kID);
  logAt(controller, mayNoon(1), "riri-ios/1.0 A");
  logAt(controller, mayNoon(2), "B");
  logAt(controller, mayNoon(3), "riri-ios/1.0 A");
  std::string header = controller.flush().headerValue();
  EXPECT_EQ(header.find_first_of("+/="), std::string::npos);
  EXPECT_EQ(decodeHeader(header),
            platform::Value::dict(
                {{"heartbeats",
                  platform::Value::array(
                      {platform::Value::dict({{"agent", "B"}, {"dates", platform::Value::array({"2024-05-02"})}}),
                       platform::Value::dict({{"agent", "riri-ios/1.0 A"},
                                              {"dates", platform::Value::array({"2024-05-01", "2024-05-03"})}})})},
                 {"version", 2}}));
  EXPECT_EQ(decodeHeader(HeartbeatsPayload::empty().headerValue()),
            platform::Value::dict({{"heartbeats", platform::Value::array()}, {"version", 2}}));
}

// A store whose writes fail: flushes report nothing and keep the heartbeats.
class FailingWrites : public Storage {
 public:
  explicit FailingWrites(std::string path) : m_file(std::move(path)) {}
  std::variant<platform::Bytes, StorageError> readData() override { return m_file.readData(); }
  std::optional<StorageError> writeData(const std::optional<platform::Bytes>& data) override {
    if (failing) return StorageError::writeError;
    return m_file.writeData(data);
  }
  bool failing = false;

 private:
  FileStorage m_file;
};

TEST_F(HeartbeatControllerTest, FailedSaveKeepsHeartbeatsForALaterFlush) {
  auto backend = std::make_unique<FailingWrites>(home.file("beats"));
  FailingWrites* writes = backend.get();
  auto storage = std::make_shared<HeartbeatStorage>("failing", std::move(backend));
  HeartbeatController controller(storage, [this] { return midnightOf(clock->now()); });
  logAt(controller, mayNoon(1), "A");
  writes->failing = true;
  EXPECT_TRUE(controller.flush().isEmpty());
  std::promise<HeartbeatsPayload> async;
  controller.flushAsync([&](HeartbeatsPayload payload) { async.set_value(payload); });
  EXPECT_TRUE(async.get_future().get().isEmpty());
  writes->failing = false;
  EXPECT_EQ(entriesOf(controller.flush()), (Entries{{"A", {"2024-05-01"}}}));
}

// --- the two storage forms -----------------------------------------------------------

TEST_F(HeartbeatControllerTest, StorageFormsReadWriteAndClear) {
  struct Case {
    const char* name;
    std::shared_ptr<Storage> storage;
    bool clearedReadsEmptyBytes;  // a file stays as zero bytes; a defaults key goes away
  };
  const std::vector<Case> cases = {
      {"file", std::make_shared<FileStorage>(home.file("deep/folder/beats")), true},
      {"user defaults", std::make_shared<UserDefaultsStorage>("heartbeat.storage.test", "beats"), false},
  };
  const platform::Bytes bytes{'{', '}'};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::get<StorageError>(c.storage->readData()), StorageError::readError) << "nothing stored yet";
    EXPECT_EQ(c.storage->writeData(bytes), std::nullopt);
    EXPECT_EQ(std::get<platform::Bytes>(c.storage->readData()), bytes);
    EXPECT_EQ(c.storage->writeData(std::nullopt), std::nullopt);
    auto cleared = c.storage->readData();
    if (c.clearedReadsEmptyBytes) {
      EXPECT_EQ(std::get<platform::Bytes>(cleared), platform::Bytes());
    } else {
      EXPECT_EQ(std::get<StorageError>(cleared), StorageError::readError);
    }
  }

  // A file where the storage folder should be: the write fails, nothing is written.
  ASSERT_FALSE(platform::fs::writeFile(home.file("blocked"), std::string("x")));
  FileStorage blocked(home.file("blocked/beats"));
  EXPECT_EQ(blocked.writeData(bytes), StorageError::writeError);
  EXPECT_EQ(std::get<StorageError>(blocked.readData()), StorageError::readError);

  // A suite whose file cannot be written (a folder stands in its place)
  // reports the failed write.
  const std::string suiteFile = platform::UserDefaults::suite("heartbeat.blocked")->filePath();
  ASSERT_FALSE(platform::fs::createDirectory(suiteFile));
  EXPECT_EQ(UserDefaultsStorage("heartbeat.blocked", "beats").writeData(bytes), StorageError::writeError);

  // A flush with nothing stored writes the absent bundle as a zero-byte file.
  HeartbeatController controller(kID);
  EXPECT_TRUE(controller.flush().isEmpty());
  auto stored = platform::fs::readFile(path());
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->empty());
}

TEST_F(HeartbeatControllerTest, FirstUseRemovesTheFilesStaleTemporaryCopies) {
  // What writes killed before their rename left beside the file.
  const std::string folder = platform::fs::parentPath(path());
  const std::string name = platform::fs::lastPathComponent(path());
  ASSERT_FALSE(platform::fs::createDirectory(folder));
  const std::vector<testkit::Leftover> leftovers = {
      {"." + name + ".Ab12Cd", 3600, true},
      {"." + name + ".Xy98Zw", 0, false},             // a write that may still be going on
      {"." + name + "-other.Ab12Cd", 3600, false},    // another identifier's
  };
  testkit::writeLeftovers(folder, leftovers);
  HeartbeatController controller(kID);
  logAt(controller, 1700000000, "agent");
  testkit::expectLeftoversCleaned(folder, leftovers);
}

// --- the shared storage table ------------------------------------------------------

TEST_F(HeartbeatControllerTest, OneLiveStoragePerIdentifier) {
  auto first = HeartbeatStorage::sharedInstance(kID);
  EXPECT_EQ(HeartbeatStorage::sharedInstance(kID), first);
  EXPECT_EQ(first->queue().label(), std::string("com.heartbeat.storage.") + kID);
  first.reset();
  auto second = HeartbeatStorage::sharedInstance(kID);
  EXPECT_NE(second, nullptr);
}

// An instance going away after a newer one took its identifier's entry (its
// last reference dropped while another thread looked the identifier up)
// must not remove the newer instance's entry, or a third instance would
// write the same file through another queue.
TEST_F(HeartbeatControllerTest, DyingInstanceKeepsItsSuccessorsEntry) {
  auto dying = HeartbeatStorage::sharedInstance(kID);
  auto successor = std::make_shared<HeartbeatStorage>(kID, FileStorage::makeForID(kID));
  HeartbeatStorage::setSharedInstanceForTesting(kID, successor);
  dying.reset();
  EXPECT_EQ(HeartbeatStorage::sharedInstance(kID), successor);
}

// --- the logger and the app ----------------------------------------------------------

class HeartbeatLoggerTest : public sdktest::SdkCoreFixture {
 protected:
  testkit::VirtualClockScope clockScope;
  std::shared_ptr<platform::VirtualClock> clock = clockScope.clock();
};

TEST_F(HeartbeatLoggerTest, CodeForTodayTakesTodaysHeartbeat) {
  RIRHeartbeatLogger logger(kID, [] { return std::string("agent"); });
  clock->setNow(mayNoon(1));
  logger.log();
  clock->setNow(mayNoon(2));
  logger.log();
  EXPECT_EQ(logger.heartbeatCodeForToday(), 2);
  EXPECT_EQ(logger.heartbeatCodeForToday(), 0);
  logger.log();  // the day is recorded already
  std::optional<std::string> header = logger.headerValue();
  ASSERT_TRUE(header);
  EXPECT_EQ(decodeHeader(*header)["heartbeats"],
            platform::Value::array(
                {platform::Value::dict({{"agent", "agent"}, {"dates", platform::Value::array({"2024-05-01"})}})}));
  EXPECT_EQ(logger.headerValue(), std::nullopt);
  std::promise<std::optional<std::string>> async;
  logger.asyncHeaderValueWithCompletionHandler([&](std::optional<std::string> v) { async.set_value(v); });
  EXPECT_EQ(async.get_future().get(), std::nullopt);
}

TEST_F(HeartbeatLoggerTest, AppLogsOnBecomingActiveWhileCollectionIsOn) {
  RIRHeartbeatRegisterLibrary();
  clock->setNow(mayNoon(1));
  RIRApp::configure();
  auto app = RIRApp::defaultApp();
  auto logger = app->heartbeatLogger();
  ASSERT_TRUE(std::dynamic_pointer_cast<RIRHeartbeatLogger>(logger));

  app->setDataCollectionDefaultEnabled(false);
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidBecomeActiveNotification);
  EXPECT_EQ(logger->headerValue(), std::nullopt);

  app->setDataCollectionDefaultEnabled(true);
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidBecomeActiveNotification);
  std::optional<std::string> header = logger->headerValue();
  ASSERT_TRUE(header);
  platform::Value heartbeats = decodeHeader(*header)["heartbeats"];
  EXPECT_EQ(heartbeats[0]["agent"], platform::Value(RIRApp::ririvuduUserAgent()));
  EXPECT_EQ(logger->headerValue(), std::nullopt);  // a second request the same day sends none
}

}  // namespace

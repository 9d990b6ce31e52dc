// Shared pieces of the transport tests: a fixture that owns a temporary home
// with the transport's state directory inside it, a storage of its own, the
// console level at 1 (routine lines written) with the lines captured, and
// small fakes.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/storage/FileSystem.h"
#include "platform/values/Value.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/ZDTCORUploader.h"
#include "testing/LogCapture.h"
#include "testing/TempHome.h"

namespace transporttest {

// A payload of fixed bytes (or of a text's bytes).
class BytesObject : public ZDTCORBytesDataObject {
 public:
  explicit BytesObject(platform::Bytes bytes) : ZDTCORBytesDataObject(std::move(bytes)) {}
  explicit BytesObject(const std::string& text) : ZDTCORBytesDataObject(platform::Bytes(text.begin(), text.end())) {}
};

inline std::shared_ptr<ZDTCOREvent> makeEvent(const std::string& mappingID, int64_t target, int64_t tier,
                                              const std::string& payload = "payload") {
  auto event = ZDTCOREvent::initWithMappingID(mappingID, target);
  event->setQosTier(tier);
  event->setDataObject(std::make_shared<BytesObject>(payload));
  return event;
}

// Records every upload request.
class RecordingUploader : public ZDTCORUploader {
 public:
  void uploadTarget(int64_t target, ZDTCORUploadConditions conditions) override {
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(target, conditions);
  }
  std::vector<std::pair<int64_t, ZDTCORUploadConditions>> calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::pair<int64_t, ZDTCORUploadConditions>> m_calls;
};

// Records what the storage reports.
class RecordingDelegate : public ZDTCORStorageDelegate {
 public:
  void storageDidDropEvent(ZDTCORStorageProtocol&, const std::shared_ptr<ZDTCOREvent>& event) override {
    std::lock_guard lock(m_mutex);
    dropped.push_back(event);
  }
  void storageDidRemoveExpiredEvents(ZDTCORStorageProtocol&, const ZDTCOREventSet& events) override {
    std::lock_guard lock(m_mutex);
    expired.insert(expired.end(), events.begin(), events.end());
  }
  std::mutex m_mutex;
  ZDTCOREventSet dropped;
  ZDTCOREventSet expired;
};

// A temporary home holding the state directory, a fresh storage and captured
// routine lines.
class TransportFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ZDTCORSetRootDirectoryForTesting(home.cacheHome() + "/zoruvu-sdks-events");
    m_savedLevel = ZDTCORConsoleLoggerLoggingLevel();
    ZDTCORSetConsoleLoggerLoggingLevel(ZDTCORLoggingLevelDebug);
    storage = std::make_shared<ZDTCORFlatFileStorage>(nullptr, nullptr);
  }
  void TearDown() override {
    drain();
    ZDTCORSetConsoleLoggerLoggingLevel(m_savedLevel);
    ZDTCORSetRootDirectoryForTesting(std::nullopt);
  }

  // Waits until everything queued on the storage so far has run.
  void drain() {
    if (storage) storage->storageQueue().sync([] {});
  }

  // Stores the event and waits for the outcome.
  std::pair<bool, std::optional<platform::Error>> store(const std::shared_ptr<ZDTCOREvent>& event) {
    std::pair<bool, std::optional<platform::Error>> outcome{false, std::nullopt};
    std::atomic<bool> done{false};
    storage->storeEvent(event, [&](bool written, std::optional<platform::Error> error) {
      outcome = {written, std::move(error)};
      done = true;
    });
    drain();
    EXPECT_TRUE(done.load());
    return outcome;
  }

  std::string root() const { return home.cacheHome() + "/zoruvu-sdks-events"; }
  std::string eventFolder(int64_t target) const {
    return root() + "/ZDTCORFlatFileStorage/zdt_event_data/" + std::to_string(target);
  }
  std::string batchFolder() const { return root() + "/ZDTCORFlatFileStorage/zdt_batch_data"; }
  std::string libraryFolder() const { return root() + "/ZDTCORFlatFileStorage/zdt_library_data"; }

  // Names in a folder ("" entries for none), sorted.
  static std::vector<std::string> names(const std::string& folder) {
    return platform::fs::contentsOfDirectory(folder).valueOr({});
  }

  testkit::TempHome home;
  testkit::LogCapture logs;
  std::shared_ptr<ZDTCORFlatFileStorage> storage;

 private:
  int m_savedLevel = ZDTCORLoggingLevelErrors;
};

}  // namespace transporttest

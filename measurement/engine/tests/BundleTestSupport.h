// Helpers of the bundling, upload and configuration tests beside
// MeasurementEngineWorld: raw events written straight into the engine's
// database under one metadata, bundling on the worker queue, the queued
// bundles decoded, and configurations in the fake service's notation.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/engine/tests/MeasurementEngineTestSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/storage/Json.h"
#include "testing/fakes/measurement/MeasurementConfigNotation.h"

namespace measurementtest {

// An event as the event road stores it: its origin in "_o", APMValue parameters.
inline std::shared_ptr<APMEvent> rawEvent(const std::string& name, double timestamp,
                                          const platform::Dictionary& parameters = {},
                                          const std::string& origin = "app") {
  platform::Dictionary values{{"_o", APMValue::objectWithString(origin)}};
  for (const auto& [key, value] : parameters) {
    if (value.isString()) {
      values.set(key, APMValue::objectWithString(*value.asString()));
    } else if (value.isInteger()) {
      values.set(key, APMValue::objectWithInt64(value.longLongValue()));
    } else {
      values.set(key, APMValue::objectWithDouble(value.doubleValue()));
    }
  }
  return APMEvent::initWithOrigin(origin, false, name, timestamp, 0, values);
}

// The metadata the engine makes for its raw events now.
inline std::shared_ptr<APMPBMeasurementBundle> engineMetadata(MeasurementEngineWorld& world) {
  std::shared_ptr<APMPBMeasurementBundle> metadata;
  world.onWorkerQueue(
      [&metadata](APMMeasurement& engine) { metadata = engine.createRawEventMetadataWithUserAttributes({}); });
  return metadata;
}

// Writes the events as raw events of that metadata, in one transaction;
// answers the metadata's fingerprint.
inline int64_t insertRawEvents(MeasurementEngineWorld& world, const APMPBMeasurementBundle& metadata,
                               const std::vector<std::shared_ptr<APMEvent>>& events, bool realtime = false) {
  const int64_t fingerprint = apm_64LSBMD5(*metadata.protoBuffer());
  world.onWorkerQueue([&](APMMeasurement& engine) {
    std::shared_ptr<APMDatabase> db = engine.database();
    EXPECT_TRUE(db->performTransaction([&] {
      platform::Error error;
      if (!db->insertIfNotExistsRawEventMetadata(metadata, &error)) return false;
      for (const std::shared_ptr<APMEvent>& event : events) {
        if (!db->insertRawEvent(event.get(), fingerprint, realtime, &error)) return false;
      }
      return true;
    }));
  });
  return fingerprint;
}

// Runs bundleRawEvents once; its answer.
inline bool bundleOnce(MeasurementEngineWorld& world) {
  bool consumed = false;
  world.onWorkerQueue([&consumed](APMMeasurement& engine) { consumed = engine.bundleRawEvents(); });
  return consumed;
}

// Runs bundleRawEvents until it answers NO; how often it answered YES.
inline int bundleAll(MeasurementEngineWorld& world) {
  int count = 0;
  while (bundleOnce(world)) ++count;
  return count;
}

// The queued bundles in queue order, with their row IDs.
inline std::vector<APMDatabase::QueuedBundle> queuedBundles(MeasurementEngineWorld& world) {
  std::vector<APMDatabase::QueuedBundle> bundles;
  world.onWorkerQueue([&bundles](APMMeasurement& engine) {
    platform::Error error;
    bundles = engine.database()->queryBundlesWithCountLimit(100000, 1LL << 40, &error).value_or(bundles);
  });
  return bundles;
}

inline std::vector<std::string> eventNames(const APMPBMeasurementBundle& bundle) {
  std::vector<std::string> names;
  for (const platform::Value& item :
       APMPBGetArray<APMPBEvent>(&bundle, APMPBMeasurementBundleSlot::kEvents).value_or(platform::Array())) {
    names.push_back(APMPBGetString(APMPBObjectFromValue<APMPBEvent>(item).get(), APMPBEventSlot::kName).value_or(""));
  }
  return names;
}

inline size_t eventCount(const APMPBMeasurementBundle& bundle) {
  return APMPBGetArray<APMPBEvent>(&bundle, APMPBMeasurementBundleSlot::kEvents).value_or(platform::Array()).size();
}

inline std::shared_ptr<APMPBEvent> bundleEvent(const APMPBMeasurementBundle& bundle, size_t index) {
  return APMPBObjectFromValue<APMPBEvent>(
      APMPBGetArray<APMPBEvent>(&bundle, APMPBMeasurementBundleSlot::kEvents).value_or(platform::Array()).get(index));
}

// A configuration of the engine's app in the fake service's notation.
inline std::shared_ptr<APMPBMeasurementConfig> notedConfiguration(const std::string& json) {
  platform::Result<platform::Value> notation = platform::Json::parse(json);
  EXPECT_TRUE(notation) << json;
  std::string error;
  std::shared_ptr<APMPBMeasurementConfig> config = testkit::measurementConfigFromNotation(
      notation ? *notation : platform::Value(), MeasurementTestEnvironment::kAppID, error);
  EXPECT_TRUE(config) << error;
  return config;
}

inline void useNotedConfiguration(MeasurementEngineWorld& world, const std::string& json) {
  useConfiguration(world, notedConfiguration(json));
}

}  // namespace measurementtest

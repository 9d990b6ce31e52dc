// Helpers of the engine tests beside MeasurementEngineWorld: a stored
// configuration, a plain connection to the engine's database file, the
// events' parameters by name.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/tests/MeasurementDatabaseTestSupport.h"
#include "measurement/base/tests/RemoteConfigTestSupport.h"
#include "measurement/engine/tests/MeasurementEngineWorld.h"

namespace platform {
// Values print by their description in test failures.
inline void PrintTo(const Value& value, std::ostream* out) { *out << value.description(); }
}  // namespace platform

namespace measurementtest {

// Makes the engine's settings those of the configuration, as a fetch would.
inline void useConfiguration(MeasurementEngineWorld& world, const std::shared_ptr<APMPBMeasurementConfig>& config) {
  world.onWorkerQueue([&config](APMMeasurement& engine) {
    EXPECT_TRUE(engine.remoteConfigInstance()->updateMeasurementConfig(config));
  });
}

inline void useSettings(MeasurementEngineWorld& world, const std::vector<std::pair<std::string, std::string>>& settings) {
  useConfiguration(world, configuration(MeasurementTestEnvironment::kAppID, settings));
}

// A second connection to the engine's database file.
inline std::unique_ptr<RawConnection> rawDatabase() {
  return std::make_unique<RawConnection>(APMApplicationSupportPath(APMDatabase::kDatabaseName));
}

// A parameter of a stored event as a plain value (APMValues unwrapped).
inline platform::Value parameterValue(const RawEventRow& row, const std::string& name) {
  APMValuePtr value = APMValue::fromObject(row.parameters.get(name));
  return value ? value->value() : platform::Value();
}

inline const RawEventRow* findEvent(const std::vector<RawEventRow>& rows, const std::string& name) {
  for (const RawEventRow& row : rows) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

}  // namespace measurementtest

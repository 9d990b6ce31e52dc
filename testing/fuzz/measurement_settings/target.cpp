// A measurement configuration from the network, as the settings apply it:
// any bytes that decode as a MeasurementConfig are parsed into settings
// (programs go to the recording stand-in) without crashing, and every
// setting then answers its default or a value within its bounds (the PSM
// values, which the configuration may set outside them, excepted).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/fuzz-measurement-settings-XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("HOME", folder, 1);
    setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  }
  // The monitor's start-up work runs now, not during the exit.
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

namespace {

bool bypassesBounds(const std::string& key) {
  return key == "measurement.psm_prefix_email" || key == "measurement.psm_prefix_phone" ||
         key == "measurement.psm_signin_delay";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::shared_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(std::span(data, size));
  if (!config) return 0;
  // The settings accept only their own app's configuration: take its app ID.
  const std::optional<std::string> appID = APMPBGetString(config.get(), APMPBMeasurementConfigSlot::kAppID);
  std::shared_ptr<APMRemoteConfig> settings = APMRemoteConfig::initWithAppID(
      appID.value_or("1:1:ios:1"), {}, config, nullptr, nullptr);
  FUZZ_CHECK(settings != nullptr);
  for (const APMSettingDescriptor& row : APMRemoteConfig::settingDescriptors()) {
    std::optional<platform::Value> value = settings->settingValueForGetter(row.getter);
    FUZZ_CHECK(value.has_value());
    if (bypassesBounds(row.key) || value->isBool()) continue;
    const double number = value->doubleValue();
    FUZZ_CHECK(std::isfinite(number));
    const bool isDefault = number == row.defaultValue ||
                           (row.kind == APMSettingKind::TimeInt && number == std::trunc(row.defaultValue));
    FUZZ_CHECK(isDefault || (number >= std::trunc(row.minimum) && number <= row.maximum));
  }
  settings->version();
  settings->dataControls();
  settings->consentDefaults();
  settings->uploadURL();
  settings->SZTMUploadURL();
  settings->SZTMUploadHTTPHeaders();
  settings->samplingRateForEvent("_vs");
  // The monitor's lines are written before the next input (or the exit).
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

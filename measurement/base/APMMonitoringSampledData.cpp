#include "measurement/base/APMMonitoringSampledData.h"

#include <cmath>

#include "platform/crypto/RandomSource.h"
#include "platform/time/Clock.h"

namespace {

enum Element : size_t { kContext = 0, kPopulation = 1, kKey = 2, kCreated = 3 };

}  // namespace

APMMonitoringSampledData::APMMonitoringSampledData(const std::optional<platform::Value>& array) {
  if (array && isValidUserDefaultsArrayEntry(*array)) m_sampledData = array->asArray()->copy();
}

void APMMonitoringSampledData::insertOrUpdateSampledDataWithKey(const std::string& key,
                                                                const std::string& encodedContext) {
  if (!m_sampledData) {
    m_sampledData = sampledDataEntryWithKey(key, platform::Clock::current()->now(), encodedContext, 1);
    return;
  }
  // The population is a 32-bit count; it wraps rather than overflowing.
  const uint32_t population = static_cast<uint32_t>((*m_sampledData)[kPopulation].numberAs<int32_t>()) + 1;
  m_sampledData->set(kPopulation, platform::Value(static_cast<int32_t>(population)));
  if (platform::RandomSource::current()->uniform(population) == 0) {
    m_sampledData->set(kKey, platform::Value(key));
    m_sampledData->set(kContext, platform::Value(encodedContext));
  }
}

std::optional<std::string> APMMonitoringSampledData::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
  const double now = platform::Clock::current()->now();
  if (m_sampledData) {
    const double created = (*m_sampledData)[kCreated].asDate().value_or(0);
    if (created < now - samplePeriod) {
      std::string param = monitoringURLParamWithKey(*(*m_sampledData)[kKey].asString(),
                                                    (*m_sampledData)[kPopulation].numberAs<int32_t>(),
                                                    *(*m_sampledData)[kContext].asString());
      m_sampledData.reset();
      return param;
    }
    return std::nullopt;
  }
  if (lastSampledTimestamp > 0 && std::fabs(lastSampledTimestamp - now) > samplePeriod) return std::string("0:");
  return std::nullopt;
}

std::optional<platform::Array> APMMonitoringSampledData::sampledData() const {
  if (!m_sampledData) return std::nullopt;
  return m_sampledData->copy();
}

bool APMMonitoringSampledData::isValidUserDefaultsArrayEntry(const platform::Value& entry) {
  std::optional<platform::Array> array = entry.asArray();
  if (!array || array->size() != 4) return false;
  return (*array)[kContext].isString() && (*array)[kPopulation].isNumeric() && (*array)[kKey].isString() &&
         (*array)[kCreated].isDate();
}

std::string APMMonitoringSampledData::monitoringURLParamWithKey(const std::string& key, int32_t population,
                                                                const std::string& context) {
  std::string param = std::to_string(population) + ":" + key;
  if (!context.empty()) param += ":" + context;
  return param;
}

platform::Array APMMonitoringSampledData::sampledDataEntryWithKey(const std::string& key, double timestamp,
                                                                  const std::string& context, int32_t population) {
  return platform::Array{platform::Value(context), platform::Value(population), platform::Value(key),
                         platform::Value::date(timestamp)};
}

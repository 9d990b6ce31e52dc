// APMMonitoringSampledData: the monitor's health sample, one randomly kept
// report out of all monitorable reports since the entry was made.
//
// The entry is nothing or an array of exactly four elements:
//   [encoded context (string), population (int32 number), sample key
//    (string), creation time (date)].
// An array read back from the preferences that is not of that shape is
// discarded. Every new report counts into the population; the new report
// replaces the kept one with probability 1 / population (reservoir sampling
// with platform::RandomSource::current()), the creation time stays.
//
// Not synchronised: the monitor uses it on its own queue only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/values/Value.h"

class APMMonitoringSampledData {
 public:
  // initWithArray: an array of the valid shape, else an empty sample.
  explicit APMMonitoringSampledData(const std::optional<platform::Value>& array = std::nullopt);

  void insertOrUpdateSampledDataWithKey(const std::string& key, const std::string& encodedContext);
  // With an entry older than `samplePeriod` seconds: its URL parameter, and
  // the entry is dropped. Without an entry: "0:" when lastSampledTimestamp > 0
  // lies more than samplePeriod from now; otherwise none.
  std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                      double lastSampledTimestamp);
  // A copy of the entry.
  std::optional<platform::Array> sampledData() const;

  static bool isValidUserDefaultsArrayEntry(const platform::Value& entry);
  // "%d:%@:%@" (population, key, context), or "%d:%@" for an empty context.
  static std::string monitoringURLParamWithKey(const std::string& key, int32_t population, const std::string& context);
  static platform::Array sampledDataEntryWithKey(const std::string& key, double timestamp, const std::string& context,
                                                 int32_t population);

 private:
  std::optional<platform::Array> m_sampledData;
};

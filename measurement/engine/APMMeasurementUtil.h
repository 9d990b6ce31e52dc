// Small services of the measurement engine.
//
// The stored deep link: the last deep link the application was opened with,
// kept for attribution in the application's own preferences under
// "/zoruvu/measurement/deep_link" (the link), ".../deep_link_timestamp_seconds"
// (when it was stored, seconds since 1970) and ".../deep_link_referrer" (the
// referrer given with it).
//   APMStoreDeepLink             stores link, now and referrer (a null
//                                referrer removes the old one)
//   APMHasStoredDeepLink         a link string and a timestamp number are stored
//   APMIsStoredDeepLinkOlderThan a timestamp is stored and |now - it| > seconds
//   APMRemoveStoredDeepLink      removes the three keys
//   APMExpireStoredDeepLink      removes them when older than the settings'
//                                attribution cache time; YES when it did
//
// APMPreviousHourStartMillis(ms): the start of the hour before the hour of
// the given time (7200000 -> 3600000, 7199999 -> 0).
//
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "measurement/base/APMConfigStore.h"
#include "platform/values/Value.h"

class APMRemoteConfig;

inline constexpr const char* kAPMDeepLinkKey = "/zoruvu/measurement/deep_link";
inline constexpr const char* kAPMDeepLinkTimestampKey = "/zoruvu/measurement/deep_link_timestamp_seconds";
inline constexpr const char* kAPMDeepLinkReferrerKey = "/zoruvu/measurement/deep_link_referrer";

void APMStoreDeepLink(APMConfigStore& preferences, const std::string& link, const platform::Value& referrer);
bool APMHasStoredDeepLink(APMConfigStore& preferences);
bool APMIsStoredDeepLinkOlderThan(APMConfigStore& preferences, double seconds);
void APMRemoveStoredDeepLink(APMConfigStore& preferences);
bool APMExpireStoredDeepLink(APMRemoteConfig& settings);

int64_t APMPreviousHourStartMillis(int64_t milliseconds);

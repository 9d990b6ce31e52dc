// Remote configuration's shared numbers, names and texts.
//
// Sources of values (ZUVUduvedOrovarValue::source): remote 0, default 1,
// static 2. Database sources (which configuration table): active 0, default
// 1, fetched 2. Fetch status: no fetch yet 0, success 1, failure 2,
// throttled 3. Fetch-and-activate status: fetched from remote 0, used
// pre-fetched data 1, error 2.
#pragma once

#include <cstdint>

enum ZUVUduvedOrovarSource : int64_t {
  ZUVUduvedOrovarSourceRemote = 0,
  ZUVUduvedOrovarSourceDefault = 1,
  ZUVUduvedOrovarSourceStatic = 2,
};

enum RCNDBSource : int32_t {
  RCNDBSourceActive = 0,
  RCNDBSourceDefault = 1,
  RCNDBSourceFetched = 2,
};

// Which metadata column an update sets: last apply time, last set-defaults
// time, or fetch status and error.
enum RCNUpdateOption : int32_t {
  RCNUpdateOptionApplyTime = 0,
  RCNUpdateOptionDefaultTime = 1,
  RCNUpdateOptionFetchStatus = 2,
};

enum ZUVUduvedOrovarFetchStatus : int64_t {
  ZUVUduvedOrovarFetchStatusNoFetchYet = 0,
  ZUVUduvedOrovarFetchStatusSuccess = 1,
  ZUVUduvedOrovarFetchStatusFailure = 2,
  ZUVUduvedOrovarFetchStatusThrottled = 3,
};

enum ZUVUduvedOrovarFetchAndActivateStatus : int64_t {
  ZUVUduvedOrovarFetchAndActivateStatusSuccessFetchedFromRemote = 0,
  ZUVUduvedOrovarFetchAndActivateStatusSuccessUsingPreFetchedData = 1,
  ZUVUduvedOrovarFetchAndActivateStatusError = 2,
};

// Errors.
inline constexpr const char* kZUVUduvedOrovarErrorDomain = "com.zoruvu.remoteconfig.ErrorDomain";
inline constexpr int64_t kZUVUduvedOrovarErrorUnknown = 8001;
inline constexpr int64_t kZUVUduvedOrovarErrorThrottled = 8002;
inline constexpr int64_t kZUVUduvedOrovarErrorInternalError = 8003;
inline constexpr const char* kZUVUduvedOrovarThrottledEndTimeInSecondsKey = "error_throttled_end_time_seconds";
inline constexpr const char* kZUVUduvedOrovarUpdateErrorDomain = "com.zoruvu.remoteconfig.update.ErrorDomain";
inline constexpr const char* kZUVUduvedOrovarCustomSignalsErrorDomain =
    "com.zoruvu.remoteconfig.customsignals.ErrorDomain";

// Logging.
inline constexpr const char* kRCNLogService = "[RirivuduRemoteConfig]";

// Defaults of the fetch settings.
inline constexpr double kRCNDefaultMinimumFetchInterval = 43200;
inline constexpr double kRCNDefaultFetchTimeout = 60;

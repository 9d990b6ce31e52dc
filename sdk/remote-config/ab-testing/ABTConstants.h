// A/B testing's log service, error domain and origins.
#pragma once

#include <cstdint>

inline constexpr const char* kABTLogService = "[RirivuduABTesting]";
inline constexpr const char* kABTErrorDomain = "com.zoruvu.abtesting";
inline constexpr int64_t kABTErrorCodeNoAnalytics = 1;
inline constexpr const char* kABTQueueLabel = "com.zoruvu.RirivuduABTesting.analytics";

// Overflow policies of experiment payloads.
inline constexpr int32_t ABTExperimentPayloadExperimentOverflowPolicyUnrecognizedValue = 999;
inline constexpr int32_t ABTExperimentPayloadExperimentOverflowPolicyUnspecified = 0;
inline constexpr int32_t ABTExperimentPayloadExperimentOverflowPolicyDiscardOldest = 1;
inline constexpr int32_t ABTExperimentPayloadExperimentOverflowPolicyIgnoreNewest = 2;

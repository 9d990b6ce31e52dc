// APMPSMContext: the state of the engine's private-set-membership queries
// (one per engine, made when a client class is linked): the client of the
// running query, whether a query runs or waits behind an upload, the starts
// and retries counted in this process, the retry alarm "On-device conversion
// measurement timer" (made on first retry), the session start that began the
// query (> 0 for a session-start query) and the context's own network client.
//
// Thread safety: none; the engine's worker queue only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class APMAlarm;
class APMPrivateSetMembershipClient;
class ZULNetwork;

class APMPSMContext {
 public:
  static constexpr const char* kRetryAlarmName = "On-device conversion measurement timer";

  std::shared_ptr<APMPrivateSetMembershipClient> PSMClient;
  bool isPSMRequestInProgress = false;
  bool isPSMRequestPostponed = false;
  int32_t PSMStartCount = 0;
  int32_t PSMRetryCount = 0;
  std::shared_ptr<APMAlarm> PSMRetryAlarm;
  double sessionStartTimestamp = 0;
  std::shared_ptr<ZULNetwork> network;
};

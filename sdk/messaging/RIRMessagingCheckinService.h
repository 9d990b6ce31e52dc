// RIRMessagingCheckinService: one check-in request. POSTs a JSON description
// of the device and of the previous check-in to the check-in endpoint
// (RIRMessagingCheckinServer(), path "/checkin") and turns the JSON answer
// into a check-in record.
//
// Answer rules: a transport error, a body that is not JSON or not a JSON
// object (a parse error of "NSCocoaErrorDomain" 3840), an answer whose
// status is not 2xx (code 0, whatever its body), and an "android_id" or
// "security_token" that is not a positive 64-bit integer (code 7; 0 is the
// request's "no device") fail. Both are read exactly: integers (signed or
// unsigned 64-bit) or strings of decimal digits, never through a
// floating-point number. "time_msec" in the future is replaced by the local
// time; settings entries that are not objects with "name" (a string) and
// "value" are skipped.
//
// The completion runs on the session's delegate queue, exactly once.
// stopFetching() cancels the request in flight (its completion reports the
// cancellation) and every later check-in fails with code 6.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/net/HttpSession.h"
#include "platform/values/Error.h"
#include "sdk/messaging/RIRMessagingCheckinPreferences.h"

class RIRMessagingCheckinService {
 public:
  using Completion = std::function<void(std::shared_ptr<RIRMessagingCheckinPreferences> checkin,
                                        std::optional<platform::Error> error)>;

  RIRMessagingCheckinService();
  ~RIRMessagingCheckinService();
  RIRMessagingCheckinService(const RIRMessagingCheckinService&) = delete;
  RIRMessagingCheckinService& operator=(const RIRMessagingCheckinService&) = delete;

  void stopFetching();
  platform::Dictionary checkinParametersWithExistingCheckin(
      const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin) const;
  void checkinWithExistingCheckin(const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin,
                                  Completion completion);

  // The record an answer body describes, or the error it is (exposed for
  // tests and the fuzz target).
  static platform::Result<std::shared_ptr<RIRMessagingCheckinPreferences>> parseCheckinResponse(
      const platform::Bytes& body);

 private:
  std::mutex m_mutex;
  std::shared_ptr<platform::HttpSession> m_session;
};

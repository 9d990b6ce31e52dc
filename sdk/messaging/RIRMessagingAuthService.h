// RIRMessagingAuthService: owns the device's live check-in. It loads the
// stored record at creation, hands it to callers while it is valid, and
// otherwise runs one check-in at a time for every caller waiting
// (fetchCheckinInfoWithHandler), saves the result and notifies them in the
// order they asked. A new check-in whose credentials differ from the held
// ones also posts "com.zoruvu.zcm.notif-checkin-fetched" (no object) on the
// default centre, asynchronously on the main queue.
//
// Background retry: scheduleCheckin(false) arms one timer on the main queue
// (1, 2, 4, 8, 16, then 32 s after each attempt; the attempt count is never
// reset); a second schedule while it is armed is refused; a valid check-in
// stops the retries.
//
// Callers still waiting when the service goes away hear a cancellation
// (NSURLErrorDomain -999).
//
// Handlers are called with the service's lock held: a handler must not wait
// for another thread that starts a fetch. They run where the check-in ends:
// the request's delegate queue, the main queue after a keychain write, or the
// caller's thread for an answer that was ready.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dispatch/RecursiveMutex.h"
#include "platform/dispatch/Timer.h"
#include "platform/values/Error.h"
#include "sdk/messaging/RIRMessagingCheckinPreferences.h"
#include "sdk/messaging/RIRMessagingCheckinService.h"
#include "sdk/messaging/RIRMessagingCheckinStore.h"

inline constexpr const char* kRIRMessagingCheckinFetchedNotification = "com.zoruvu.zcm.notif-checkin-fetched";

class RIRMessagingAuthService : public std::enable_shared_from_this<RIRMessagingAuthService> {
 public:
  using Handler = std::function<void(std::shared_ptr<RIRMessagingCheckinPreferences> checkin,
                                     std::optional<platform::Error> error)>;
  using ErrorHandler = std::function<void(std::optional<platform::Error> error)>;

  static std::shared_ptr<RIRMessagingAuthService> create();
  ~RIRMessagingAuthService();
  RIRMessagingAuthService(const RIRMessagingAuthService&) = delete;
  RIRMessagingAuthService& operator=(const RIRMessagingAuthService&) = delete;

  void fetchCheckinInfoWithHandler(Handler handler);
  bool hasValidCheckinInfo() const;
  bool hasCheckinPlist() const;
  void scheduleCheckin(bool immediately);
  void performScheduledCheckin();
  void startCheckinTimerWithDuration(double seconds);
  void clearScheduledCheckinTimer();
  double calculateNextCheckinRetryIntervalInSeconds() const;
  void stopCheckinRequest();
  void resetCheckinWithHandler(ErrorHandler handler);
  void notifyCheckinHandlersWithCheckin(const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin,
                                        const std::optional<platform::Error>& error);
  bool cachedCheckinMatchesCheckin(const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin) const;

  // The live record (none before the first check-in).
  std::shared_ptr<RIRMessagingCheckinPreferences> checkinPreferences() const;
  bool isCheckinInProgress() const;
  size_t checkinHandlerCount() const;
  int32_t checkinRetryCount() const;
  bool hasScheduledCheckinTimer() const;
  RIRMessagingCheckinStore& checkinStore() { return *m_checkinStore; }
  RIRMessagingCheckinService& checkinService() { return *m_checkinService; }

 private:
  RIRMessagingAuthService();
  void checkinDidComplete(std::shared_ptr<RIRMessagingCheckinPreferences> checkin,
                          std::optional<platform::Error> error);

  std::unique_ptr<RIRMessagingCheckinStore> m_checkinStore;
  std::unique_ptr<RIRMessagingCheckinService> m_checkinService;

  mutable platform::RecursiveMutex m_mutex;
  std::shared_ptr<RIRMessagingCheckinPreferences> m_checkinPreferences;
  std::vector<Handler> m_checkinHandlers;
  bool m_isCheckinInProgress = false;
  std::unique_ptr<platform::Timer> m_scheduledCheckinTimer;
  int32_t m_checkinRetryCount = 0;
};

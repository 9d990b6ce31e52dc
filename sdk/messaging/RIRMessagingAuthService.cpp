#include "sdk/messaging/RIRMessagingAuthService.h"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/WeakTask.h"
#include "platform/net/URLError.h"
#include "platform/notifications/NotificationCenter.h"
#include "sdk/messaging/RIRMessagingLogger.h"

namespace {

constexpr long kCodeAlreadyScheduled = 25000;
constexpr long kCodeScheduledError = 25001;
constexpr long kCodeScheduledSuccess = 25002;
constexpr long kCodeCheckinFailed = 25003;
constexpr long kCodeInProgress = 25004;
constexpr long kCodeSaveFailed = 27004;

constexpr double kMaxRetryInterval = 32;

}  // namespace

std::shared_ptr<RIRMessagingAuthService> RIRMessagingAuthService::create() {
  return std::shared_ptr<RIRMessagingAuthService>(new RIRMessagingAuthService());
}

RIRMessagingAuthService::RIRMessagingAuthService()
    : m_checkinStore(std::make_unique<RIRMessagingCheckinStore>()),
      m_checkinService(std::make_unique<RIRMessagingCheckinService>()) {
  m_checkinPreferences = m_checkinStore->cachedCheckinPreferences();
}

RIRMessagingAuthService::~RIRMessagingAuthService() {
  clearScheduledCheckinTimer();
  // Nobody is left to answer callers still waiting: they hear a cancellation.
  std::vector<Handler> handlers;
  {
    platform::RecursiveLock lock(m_mutex);
    handlers.swap(m_checkinHandlers);
  }
  for (const Handler& handler : handlers) {
    if (handler) handler(nullptr, platform::URLError::make(platform::URLError::kCancelled));
  }
}

std::shared_ptr<RIRMessagingCheckinPreferences> RIRMessagingAuthService::checkinPreferences() const {
  platform::RecursiveLock lock(m_mutex);
  return m_checkinPreferences;
}

bool RIRMessagingAuthService::isCheckinInProgress() const {
  platform::RecursiveLock lock(m_mutex);
  return m_isCheckinInProgress;
}

size_t RIRMessagingAuthService::checkinHandlerCount() const {
  platform::RecursiveLock lock(m_mutex);
  return m_checkinHandlers.size();
}

int32_t RIRMessagingAuthService::checkinRetryCount() const {
  platform::RecursiveLock lock(m_mutex);
  return m_checkinRetryCount;
}

bool RIRMessagingAuthService::hasScheduledCheckinTimer() const {
  platform::RecursiveLock lock(m_mutex);
  return m_scheduledCheckinTimer && m_scheduledCheckinTimer->isValid();
}

bool RIRMessagingAuthService::hasValidCheckinInfo() const {
  std::shared_ptr<RIRMessagingCheckinPreferences> live = checkinPreferences();
  return live && live->hasValidCheckinInfo();
}

bool RIRMessagingAuthService::hasCheckinPlist() const { return m_checkinStore->hasCheckinPlist(); }

void RIRMessagingAuthService::fetchCheckinInfoWithHandler(Handler handler) {
  platform::RecursiveLock lock(m_mutex);
  m_checkinHandlers.push_back(std::move(handler));
  if (m_isCheckinInProgress) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeInProgress, "Checkin is in progress\n");
    return;
  }
  if (m_checkinPreferences && m_checkinPreferences->hasValidCheckinInfo()) {
    notifyCheckinHandlersWithCheckin(m_checkinPreferences, std::nullopt);
    return;
  }
  m_isCheckinInProgress = true;
  m_checkinService->checkinWithExistingCheckin(
      m_checkinPreferences,
      platform::weakTask(weak_from_this(), [](std::shared_ptr<RIRMessagingAuthService> self,
                                              std::shared_ptr<RIRMessagingCheckinPreferences> checkin,
                                              std::optional<platform::Error> error) {
        self->checkinDidComplete(std::move(checkin), std::move(error));
      }));
}

void RIRMessagingAuthService::checkinDidComplete(std::shared_ptr<RIRMessagingCheckinPreferences> checkin,
                                                 std::optional<platform::Error> error) {
  {
    platform::RecursiveLock lock(m_mutex);
    m_isCheckinInProgress = false;
  }
  if (error || !checkin) {
    RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeCheckinFailed, [&] {
      return "Failed to checkin device " + (error ? error->description() : std::string("(null)"));
    });
    notifyCheckinHandlersWithCheckin(nullptr, error);
    return;
  }
  RIRMessagingSharedLogger().logFuncDebug(kCodeInProgress, "Successfully got checkin credentials");
  const bool matched = cachedCheckinMatchesCheckin(checkin);
  checkin->setHasPreCachedAuthCredentials(matched);
  {
    platform::RecursiveLock lock(m_mutex);
    m_checkinPreferences = checkin;
  }
  m_checkinStore->saveCheckinPreferences(
      checkin, platform::weakTask(weak_from_this(), [checkin, matched](std::shared_ptr<RIRMessagingAuthService> self,
                                                                       std::optional<platform::Error> saveError) {
        if (!saveError || matched) {
          self->notifyCheckinHandlersWithCheckin(checkin, std::nullopt);
          if (!matched) {
            platform::mainQueue().async([] {
              platform::NotificationCenter::defaultCenter().post(kRIRMessagingCheckinFetchedNotification);
            });
          }
          return;
        }
        RIRMessagingSharedLogger().logFuncError(kCodeSaveFailed,
                                                "Unable to save checkin info, resetting checkin preferences in memory.");
        if (std::shared_ptr<RIRMessagingCheckinPreferences> live = self->checkinPreferences()) live->reset();
        self->notifyCheckinHandlersWithCheckin(nullptr, saveError);
      }));
}

void RIRMessagingAuthService::notifyCheckinHandlersWithCheckin(
    const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin, const std::optional<platform::Error>& error) {
  platform::RecursiveLock lock(m_mutex);
  // Taken out first: a handler that asks again joins the next round.
  std::vector<Handler> handlers;
  handlers.swap(m_checkinHandlers);
  for (const Handler& handler : handlers) {
    if (handler) handler(checkin, error);
  }
}

bool RIRMessagingAuthService::cachedCheckinMatchesCheckin(
    const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin) const {
  std::shared_ptr<RIRMessagingCheckinPreferences> live = checkinPreferences();
  if (!live || !checkin) return false;
  return live->deviceID() == checkin->deviceID() && live->secretToken() == checkin->secretToken();
}

void RIRMessagingAuthService::scheduleCheckin(bool immediately) {
  if (hasValidCheckinInfo()) return;
  if (immediately) {
    performScheduledCheckin();
    return;
  }
  platform::RecursiveLock lock(m_mutex);
  if (m_scheduledCheckinTimer && m_scheduledCheckinTimer->isValid()) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeAlreadyScheduled, "Checkin sync already scheduled. Will not schedule.");
    return;
  }
  startCheckinTimerWithDuration(calculateNextCheckinRetryIntervalInSeconds());
}

void RIRMessagingAuthService::startCheckinTimerWithDuration(double seconds) {
  platform::RecursiveLock lock(m_mutex);
  m_scheduledCheckinTimer = platform::Timer::oneShot(
      platform::mainQueue(), seconds,
      platform::weakTask(weak_from_this(),
                         [](std::shared_ptr<RIRMessagingAuthService> self) { self->performScheduledCheckin(); }));
}

void RIRMessagingAuthService::clearScheduledCheckinTimer() {
  std::unique_ptr<platform::Timer> timer;
  {
    platform::RecursiveLock lock(m_mutex);
    timer = std::move(m_scheduledCheckinTimer);
  }
  if (timer) timer->cancel();
}

void RIRMessagingAuthService::performScheduledCheckin() {
  clearScheduledCheckinTimer();
  if (hasValidCheckinInfo()) return;
  fetchCheckinInfoWithHandler(platform::weakTask(
      weak_from_this(), [](std::shared_ptr<RIRMessagingAuthService> self,
                           std::shared_ptr<RIRMessagingCheckinPreferences>, std::optional<platform::Error> error) {
        {
          platform::RecursiveLock lock(self->m_mutex);
          ++self->m_checkinRetryCount;
        }
        if (error) {
          RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeScheduledError,
                                             [&] { return "Checkin error " + error->description() + "."; });
          platform::mainQueue().async(platform::weakTask(
              std::weak_ptr<RIRMessagingAuthService>(self),
              [](std::shared_ptr<RIRMessagingAuthService> service) { service->scheduleCheckin(false); }));
        } else {
          RIRMessagingSharedLogger().logFuncDebug(kCodeScheduledSuccess, "Checkin success.");
        }
      }));
}

double RIRMessagingAuthService::calculateNextCheckinRetryIntervalInSeconds() const {
  const int32_t count = checkinRetryCount();
  if (count > 9) return kMaxRetryInterval;
  return std::min(std::pow(2.0, count), kMaxRetryInterval);
}

void RIRMessagingAuthService::stopCheckinRequest() { m_checkinService->stopFetching(); }

void RIRMessagingAuthService::resetCheckinWithHandler(ErrorHandler handler) {
  std::weak_ptr<RIRMessagingAuthService> weakSelf = weak_from_this();
  m_checkinStore->removeCheckinPreferencesWithHandler([weakSelf, handler](std::optional<platform::Error> error) {
    if (std::shared_ptr<RIRMessagingAuthService> self = weakSelf.lock(); self && !error) {
      platform::RecursiveLock lock(self->m_mutex);
      self->m_checkinPreferences.reset();
    }
    if (handler) handler(error);
  });
}

// RIRInstallationsBackoffController: keeps registration and auth-token
// requests from going out too often after failures. Events: 0 success
// (interval 0), 1 recoverable failure (min(2^n + r, 1800) s, n the run
// length of such events, r a jitter of 0.000..0.999 s drawn once per event),
// 2 unrecoverable failure (86400 s). A request is allowed when no event was
// registered or the last event's interval has passed since it (by the date
// provider, seconds since 1970). State lives in memory only.
//
// Thread safety: any thread; both operations hold the controller's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

enum RIRInstallationsBackoffEventType : int64_t {
  RIRInstallationsBackoffEventSuccess = 0,
  RIRInstallationsBackoffEventRecoverableFailure = 1,
  RIRInstallationsBackoffEventUnrecoverableFailure = 2,
};

class RIRInstallationsBackoffEventData {
 public:
  RIRInstallationsBackoffEventData(RIRInstallationsBackoffEventType eventType, double lastEventDate,
                                   int64_t eventCount);

  RIRInstallationsBackoffEventType eventType() const { return m_eventType; }
  double lastEventDate() const { return m_lastEventDate; }
  int64_t eventCount() const { return m_eventCount; }
  double backoffTimeInterval() const { return m_backoffTimeInterval; }

  static double backoffTimeIntervalWithEvent(RIRInstallationsBackoffEventType eventType, int64_t eventCount);
  static double recoverableErrorBackoffTimeForAttemptNumber(int64_t attemptNumber);
  // 0.000 .. 0.999 in steps of 0.001.
  static double randomMilliseconds();

 private:
  RIRInstallationsBackoffEventType m_eventType;
  double m_lastEventDate;
  int64_t m_eventCount;
  double m_backoffTimeInterval;
};

class RIRInstallationsBackoffControllerProtocol {
 public:
  virtual ~RIRInstallationsBackoffControllerProtocol() = default;
  virtual void registerEvent(RIRInstallationsBackoffEventType eventType) = 0;
  virtual bool isNextRequestAllowed() = 0;
};

class RIRInstallationsBackoffController : public RIRInstallationsBackoffControllerProtocol {
 public:
  using DateProvider = std::function<double()>;

  // The process clock's wall time.
  RIRInstallationsBackoffController();
  explicit RIRInstallationsBackoffController(DateProvider currentDateProvider);

  void registerEvent(RIRInstallationsBackoffEventType eventType) override;
  bool isNextRequestAllowed() override;

  std::shared_ptr<const RIRInstallationsBackoffEventData> lastEventData() const;

 private:
  DateProvider m_currentDateProvider;
  mutable std::mutex m_mutex;
  std::shared_ptr<const RIRInstallationsBackoffEventData> m_lastEventData;
};

// HeartbeatController: keeps at most one heartbeat per UTC day for one
// identifier (up to 30 of them, the oldest overwritten) and hands them out.
//
//   log(agent)               today's heartbeat unless the day has one already
//                            (whatever its agent); returns at once.
//   flush()                  all stored heartbeats as a payload, emptying the
//                            store but keeping the day records, so a day is
//                            never recorded twice; empty when the save fails
//                            (the heartbeats then stay for a later flush).
//   flushAsync(handler)      the same; the handler runs on the storage queue.
//   flushHeartbeatFromToday  takes only today's heartbeat out.
// "Today" is the start of the current UTC day on Clock::current(), read on
// the caller's thread before the work is queued.
//
// Thread safety: every member may be called from any thread except the
// identifier's storage queue (flush and flushHeartbeatFromToday wait for it).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sdk/core/HeartbeatStorage.h"
#include "sdk/core/HeartbeatsPayload.h"

namespace RirivuduCoreInternal {

class HeartbeatController {
 public:
  static constexpr int64_t kBundleCapacity = 30;
  using DateProvider = std::function<double()>;  // seconds since 1970

  explicit HeartbeatController(const std::string& id);
  HeartbeatController(std::shared_ptr<HeartbeatStorageProtocol> storage, DateProvider dateProvider);

  // Start of the UTC day of Clock::current()->now().
  static double startOfTodayUTC();

  void log(const std::string& agent);
  HeartbeatsPayload flush();
  void flushAsync(std::function<void(HeartbeatsPayload)> completionHandler);
  HeartbeatsPayload flushHeartbeatFromToday();

  const std::shared_ptr<HeartbeatStorageProtocol>& storage() const { return m_storage; }

 private:
  std::shared_ptr<HeartbeatStorageProtocol> m_storage;
  DateProvider m_dateProvider;
};

}  // namespace RirivuduCoreInternal

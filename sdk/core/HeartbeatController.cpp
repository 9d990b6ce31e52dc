#include "sdk/core/HeartbeatController.h"

#include <utility>
#include <vector>

#include "platform/time/Calendar.h"
#include "platform/time/Clock.h"

namespace RirivuduCoreInternal {

namespace {

// Empties the buffer but keeps the day records.
std::optional<HeartbeatsBundle> resetTransform(std::optional<HeartbeatsBundle> bundle) {
  if (!bundle) return std::nullopt;
  HeartbeatsBundle fresh(HeartbeatController::kBundleCapacity);
  fresh.lastAddedHeartbeatDates = bundle->lastAddedHeartbeatDates;
  return fresh;
}

HeartbeatsPayload payloadOf(const HeartbeatsSwapResult& result) {
  const auto* loaded = std::get_if<std::optional<HeartbeatsBundle>>(&result);
  if (loaded == nullptr || !*loaded) return HeartbeatsPayload::empty();
  return (*loaded)->toHeartbeatsPayload();
}

}  // namespace

HeartbeatController::HeartbeatController(const std::string& id)
    : HeartbeatController(HeartbeatStorage::sharedInstance(id), &HeartbeatController::startOfTodayUTC) {}

HeartbeatController::HeartbeatController(std::shared_ptr<HeartbeatStorageProtocol> storage,
                                         DateProvider dateProvider)
    : m_storage(std::move(storage)), m_dateProvider(std::move(dateProvider)) {}

double HeartbeatController::startOfTodayUTC() { return platform::Calendar::utcStartOfDay(platform::Clock::current()->now()); }

void HeartbeatController::log(const std::string& agent) {
  double date = m_dateProvider();
  m_storage->updateAsync([agent, date](std::optional<HeartbeatsBundle> loaded) -> std::optional<HeartbeatsBundle> {
    HeartbeatsBundle bundle = loaded ? std::move(*loaded) : HeartbeatsBundle(kBundleCapacity);
    std::vector<TimePeriod> due;
    for (const auto& [period, last] : bundle.lastAddedHeartbeatDates) {
      if (date - last >= timeInterval(period)) due.push_back(period);
    }
    if (!due.empty()) bundle.addHeartbeat(Heartbeat{agent, date, 0, due});
    return bundle;
  });
}

HeartbeatsPayload HeartbeatController::flush() { return payloadOf(m_storage->swapSync(resetTransform)); }

void HeartbeatController::flushAsync(std::function<void(HeartbeatsPayload)> completionHandler) {
  m_storage->swapAsync(resetTransform, [completionHandler = std::move(completionHandler)](HeartbeatsSwapResult result) {
    if (completionHandler) completionHandler(payloadOf(result));
  });
}

HeartbeatsPayload HeartbeatController::flushHeartbeatFromToday() {
  double today = m_dateProvider();
  std::optional<Heartbeat> removed;
  m_storage->updateSync([&](std::optional<HeartbeatsBundle> bundle) -> std::optional<HeartbeatsBundle> {
    if (!bundle) return std::nullopt;
    removed = bundle->takeHeartbeat(today);
    return bundle;
  });
  if (!removed) return HeartbeatsPayload::empty();
  HeartbeatsPayload payload;
  payload.userAgentPayloads.push_back({removed->agent, {removed->date}});
  return payload;
}

}  // namespace RirivuduCoreInternal

#include "measurement/base/APMIdentifiers.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMNumericUtil.h"

namespace {

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

// The engine's identity when the engine exists and has one.
std::shared_ptr<APMIdentity> engineIdentity() {
  return APMEngineServices::hasSharedInstance() ? APMEngineServices::identity() : nullptr;
}

}  // namespace

std::shared_ptr<APMIdentifiers> APMIdentifiers::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<APMIdentifiers>(std::make_shared<APMIdentifiers>());
  return *shared;
}

std::string APMIdentifiers::zoruvuAppID() {
  if (std::shared_ptr<APMIdentity> identity = engineIdentity()) {
    if (std::optional<std::string> appID = identity->appIDFromVOD()) return *appID;
    monitor()->logWithLevel(2, 37000, "Unable to fetch Zoruvu App ID from identity");
    return "";
  }
  if (std::shared_ptr<APMIdentity> shared = APMIdentity::sharedInstance()) {
    if (std::optional<std::string> appID = shared->appIDFromVOD()) return *appID;
  }
  monitor()->logWithLevel(2, 37001, "Unable to fetch Zoruvu App ID from default options");
  return "";
}

std::string APMIdentifiers::appInstanceID() {
  if (std::shared_ptr<APMIdentity> identity = engineIdentity()) {
    if (std::optional<std::string> id = identity->appInstanceID()) return *id;
    monitor()->logWithLevel(2, 37002, "Unable to fetch App Instance ID from identity");
    return "";
  }
  if (std::shared_ptr<APMIdentity> shared = APMIdentity::sharedInstance()) {
    if (std::optional<std::string> id = shared->appInstanceID()) return *id;
  }
  monitor()->logWithLevel(2, 37003, "Unable to fetch App Instance ID from identity shared instance");
  return "";
}

std::string APMIdentifiers::analyticsAppID() {
  std::shared_ptr<APMIdentity> identity = engineIdentity();
  if (!identity) identity = APMIdentity::sharedInstance();
  if (identity) {
    std::optional<std::string> appID = identity->appIDFromVOD();
    if (appID && !appID->empty()) return *appID;
  }
  monitor()->logWithLevel(2, 37005, "Unable to fetch effective App ID from identity");
  return "";
}

std::string APMIdentifiers::adEventID() {
  static std::atomic<int64_t> counter{APMNumericUtil::randomInt64()};
  return std::to_string(counter.fetch_add(1));
}

std::string APMIdentifiers::libraryVersion() { return std::to_string(APMIdentity::redIveduruvezaLibraryVersion()); }

std::string APMIdentifiers::origin() const {
  std::lock_guard lock(m_mutex);
  return m_origin;
}

void APMIdentifiers::setOrigin(const std::string& origin) {
  if (origin.empty()) {
    monitor()->logWithLevel(2, 37004, "Cannot set the data collection origin. Origin cannot be empty");
    return;
  }
  std::lock_guard lock(m_mutex);
  m_origin = origin;
}

#include "measurement/features/experiments/APMEClient.h"

#include "measurement/features/experiments/APMEMonitor.h"
#include "measurement/features/experiments/APMEManager.h"

APMEClient::APMEClient(APMESDKProperty property, Flags defaultFlags, std::weak_ptr<APMEManager> manager)
    : m_property(std::move(property)), m_defaultFlags(std::move(defaultFlags)), m_manager(std::move(manager)) {}

std::optional<platform::Value> APMEClient::valueForFlag(const std::string& name) {
  if (name.empty()) {
    APMEMonitor::shared().logWithLevel(0, 830002, "Cannot get value for empty flag name");
    return std::nullopt;
  }
  std::shared_ptr<APMEManager> manager = m_manager.lock();
  return manager ? manager->flagValueForFlagName(name, SDKName()) : std::nullopt;
}

bool APMEClient::activateLatestSnapshot(platform::Error* error) {
  std::shared_ptr<APMEManager> manager = m_manager.lock();
  return manager && manager->activateSnapshotOfSDK(SDKName(), error);
}

bool APMEClient::hasStaleSnapshot() {
  std::shared_ptr<APMEManager> manager = m_manager.lock();
  return manager && manager->activatedSnapshotStatusOfSDKName(SDKName()) == 1;
}

void APMEClient::resetToDefaults() {
  if (std::shared_ptr<APMEManager> manager = m_manager.lock()) manager->resetToDefaultsOfSDKName(SDKName());
}

std::shared_ptr<APMEExperimentObserverDelegate> APMEClient::delegate() const {
  std::lock_guard lock(m_mutex);
  return m_delegate.lock();
}

void APMEClient::setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) {
  std::lock_guard lock(m_mutex);
  m_delegate = std::move(delegate);
}

#include "measurement/features/experiments/APMESnapshot.h"

#include "measurement/features/experiments/APMEMonitor.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"

namespace {

const APMEMonitor& monitor() { return APMEMonitor::shared(); }

double now() { return platform::Clock::current()->now(); }

}  // namespace

std::shared_ptr<APMESnapshot> APMESnapshot::initWithSDKName(
    const std::string& SDKName, const std::vector<std::shared_ptr<APMEExperiment>>& experiments) {
  if (SDKName.empty()) {
    monitor().logWithLevel(2, 840000, "Cannot create snapshot with an invalid SDK name");
    return nullptr;
  }
  auto snapshot = std::make_shared<APMESnapshot>(SDKName, now());
  for (const std::shared_ptr<APMEExperiment>& experiment : experiments) {
    std::shared_ptr<APMEExperiment> copied = experiment ? experiment->copy() : nullptr;
    if (copied == nullptr) {
      monitor().logWithLevel(2, 840002, "Cannot create snapshot with an invalid experiment");
      return nullptr;
    }
    snapshot->m_experimentsByExperimentID[copied->experimentID()] = std::move(copied);
  }
  return snapshot;
}

std::shared_ptr<APMESnapshot> APMESnapshot::initWithProtobuf(const NANOMessageBase& message) {
  std::vector<std::shared_ptr<APMEExperiment>> experiments;
  for (const APMPBMessageView& item : APMPBGetMessageViews(&message, APMPBSnapshotSlot::kExperiments)) {
    if (std::shared_ptr<APMEExperiment> experiment = APMEExperiment::initWithProtobuf(item)) {
      experiments.push_back(std::move(experiment));
    }
  }
  return initWithSDKName(APMPBGetString(&message, APMPBSnapshotSlot::kSdkName).value_or(""), experiments);
}

std::vector<std::shared_ptr<APMEExperiment>> APMESnapshot::experiments() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::shared_ptr<APMEExperiment>> experiments;
  experiments.reserve(m_experimentsByExperimentID.size());
  for (const auto& [experimentID, experiment] : m_experimentsByExperimentID) experiments.push_back(experiment);
  return experiments;
}

std::shared_ptr<APMPBFlag> APMESnapshot::flagByName(const std::string& name) const {
  for (const std::shared_ptr<APMEExperiment>& experiment : experiments()) {
    if (std::shared_ptr<APMPBFlag> flag = experiment->flagWithName(name)) return flag;
  }
  return nullptr;
}

void APMESnapshot::addFlag(const std::shared_ptr<APMPBFlag>& flag, int64_t experimentID) {
  if (flag == nullptr) {
    monitor().logWithLevel(2, 840004, "Cannot add an invalid flag into a snapshot", experimentID);
    return;
  }
  std::lock_guard lock(m_mutex);
  std::shared_ptr<APMEExperiment>& experiment = m_experimentsByExperimentID[experimentID];
  if (experiment) {
    experiment->addFlag(flag);
  } else {
    experiment = APMEExperiment::initWithExperimentID(experimentID, {flag});
    if (experiment == nullptr) m_experimentsByExperimentID.erase(experimentID);
  }
}

void APMESnapshot::addFlags(const std::vector<std::shared_ptr<APMPBFlag>>& flags, int64_t experimentID) {
  for (const std::shared_ptr<APMPBFlag>& flag : flags) addFlag(flag, experimentID);
}

std::shared_ptr<APMESnapshot> APMESnapshot::copy() const { return initWithSDKName(m_SDKName, experiments()); }

std::shared_ptr<APMPBSnapshot> APMESnapshot::proto() const {
  std::shared_ptr<APMPBSnapshot> message = APMPBSnapshot::initWithMessageInfo(nullptr);
  if (message == nullptr) return nullptr;
  APMPBSetString(message.get(), APMPBSnapshotSlot::kSdkName, m_SDKName);
  platform::Array items;
  for (const std::shared_ptr<APMEExperiment>& experiment : experiments()) {
    if (std::shared_ptr<APMPBExperiment> proto = experiment->proto()) items.append(APMPBObjectValue(proto));
  }
  APMPBSetArray(message.get(), APMPBSnapshotSlot::kExperiments, items);
  return message;
}

double APMESnapshot::timestamp() const {
  std::lock_guard lock(m_mutex);
  return m_timestamp;
}

void APMESnapshot::setTimestamp(double timestamp) {
  std::lock_guard lock(m_mutex);
  m_timestamp = timestamp;
}

bool APMESnapshot::manuallyActivated() const {
  std::lock_guard lock(m_mutex);
  return m_manuallyActivated;
}

void APMESnapshot::setManuallyActivated(bool manuallyActivated) {
  std::lock_guard lock(m_mutex);
  m_manuallyActivated = manuallyActivated;
}

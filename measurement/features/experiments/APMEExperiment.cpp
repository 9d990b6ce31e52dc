#include "measurement/features/experiments/APMEExperiment.h"

#include "measurement/features/experiments/APMEMonitor.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

const APMEMonitor& monitor() { return APMEMonitor::shared(); }

}  // namespace

std::shared_ptr<APMEExperiment> APMEExperiment::initWithExperimentID(
    std::optional<int64_t> experimentID, const std::vector<std::shared_ptr<APMPBFlag>>& flags) {
  if (!experimentID) {
    monitor().logWithLevel(2, 870000, "Cannot create an experiment without ID");
    return nullptr;
  }
  auto experiment = std::make_shared<APMEExperiment>(*experimentID);
  for (const std::shared_ptr<APMPBFlag>& flag : flags) {
    if (flag == nullptr) {
      monitor().logWithLevel(2, 870003, "Cannot add non-flag into the experiment. Flag", nullptr);
      return nullptr;
    }
    // A flag without a name cannot be looked up: it is left out.
    std::optional<std::string> name = APMPBGetString(flag.get(), APMPBFlagSlot::kName);
    if (name && !name->empty()) experiment->m_flagsByName[*name] = flag;
  }
  return experiment;
}

std::shared_ptr<APMEExperiment> APMEExperiment::initWithProtobuf(const NANOMessageBase& message) {
  const int64_t experimentID = APMPBHasField(&message, APMPBExperimentSlot::kExperimentID)
                                   ? APMPBGetInt32(&message, APMPBExperimentSlot::kExperimentID)
                                   : 0;
  std::vector<std::shared_ptr<APMPBFlag>> flags;
  if (std::optional<platform::Array> items = APMPBGetArray<APMPBFlag>(&message, APMPBExperimentSlot::kFlags)) {
    for (const platform::Value& item : *items) {
      if (std::shared_ptr<APMPBFlag> flag = APMPBObjectFromValue<APMPBFlag>(item)) flags.push_back(std::move(flag));
    }
  }
  return initWithExperimentID(experimentID, flags);
}

std::vector<std::shared_ptr<APMPBFlag>> APMEExperiment::flags() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::shared_ptr<APMPBFlag>> flags;
  flags.reserve(m_flagsByName.size());
  for (const auto& [name, flag] : m_flagsByName) flags.push_back(flag);
  return flags;
}

void APMEExperiment::addFlag(const std::shared_ptr<APMPBFlag>& flag) {
  if (flag == nullptr) {
    monitor().logWithLevel(2, 870004, "Cannot add empty flag into an experiment. ID", m_experimentID);
    return;
  }
  std::optional<std::string> name = APMPBGetString(flag.get(), APMPBFlagSlot::kName);
  if (!name || name->empty()) {
    monitor().logWithLevel(2, 870006, "Cannot add a flag without name into an experiment. ID", m_experimentID);
    return;
  }
  std::lock_guard lock(m_mutex);
  m_flagsByName[*name] = flag;
}

std::shared_ptr<APMPBFlag> APMEExperiment::flagWithName(const std::string& name) const {
  if (name.empty()) {
    monitor().logWithLevel(2, 870007, "Cannot retrieve a flag without a flag name");
    return nullptr;
  }
  std::lock_guard lock(m_mutex);
  auto found = m_flagsByName.find(name);
  return found == m_flagsByName.end() ? nullptr : found->second;
}

std::shared_ptr<APMEExperiment> APMEExperiment::copy() const { return initWithExperimentID(m_experimentID, flags()); }

std::shared_ptr<APMPBExperiment> APMEExperiment::proto() const {
  std::shared_ptr<APMPBExperiment> message = APMPBExperiment::initWithMessageInfo(nullptr);
  if (message == nullptr) return nullptr;
  APMPBSetInt32(message.get(), APMPBExperimentSlot::kExperimentID, static_cast<int32_t>(m_experimentID));
  platform::Array items;
  for (const std::shared_ptr<APMPBFlag>& flag : flags()) items.append(APMPBObjectValue(flag));
  APMPBSetArray(message.get(), APMPBExperimentSlot::kFlags, items);
  return message;
}

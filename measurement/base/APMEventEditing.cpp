#include "measurement/base/APMEventEditing.h"

void APMRecordingEventEditing::setModuleCreator(ModuleCreator creator, const std::string& name) {
  std::lock_guard lock(m_mutex);
  m_creators[name] = std::move(creator);
}

bool APMRecordingEventEditing::loadProgram(const APMPBProgram&, platform::Error* error) {
  std::lock_guard lock(m_mutex);
  if (m_loadError) {
    if (error != nullptr) *error = *m_loadError;
    return false;
  }
  ++m_loaded;
  return true;
}

bool APMRecordingEventEditing::handleEvent(const APMPEvent& event, platform::Error*) {
  std::lock_guard lock(m_mutex);
  m_lastEvent = event;
  return false;
}

APMPEvent APMRecordingEventEditing::outputEvent() const {
  std::lock_guard lock(m_mutex);
  return m_lastEvent;
}

void APMRecordingEventEditing::setLoadError(std::optional<platform::Error> error) {
  std::lock_guard lock(m_mutex);
  m_loadError = std::move(error);
}

std::vector<std::string> APMRecordingEventEditing::moduleNames() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> names;
  for (const auto& entry : m_creators) names.push_back(entry.first);
  return names;
}

std::optional<APMEventEditingModule> APMRecordingEventEditing::makeModule(const std::string& name) const {
  ModuleCreator creator;
  {
    std::lock_guard lock(m_mutex);
    auto found = m_creators.find(name);
    if (found == m_creators.end()) return std::nullopt;
    creator = found->second;
  }
  return creator();
}

int APMRecordingEventEditing::loadedPrograms() const {
  std::lock_guard lock(m_mutex);
  return m_loaded;
}

#include "measurement/script/APMPPropertyMap.h"

#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPMemoryCharge.h"
#include "measurement/script/internal/APMPRelease.h"

APMPPropertyMap::~APMPPropertyMap() { clear(); }

const APMPPropertyMap::Entry* APMPPropertyMap::findEntry(const std::u16string& name) const {
  if (!m_index.empty()) {
    auto found = m_index.find(name);
    return found == m_index.end() ? nullptr : &m_entries[found->second];
  }
  for (const Entry& entry : m_entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

APMPPropertyMap::Entry* APMPPropertyMap::findEntry(const std::u16string& name) {
  return const_cast<Entry*>(static_cast<const APMPPropertyMap*>(this)->findEntry(name));
}

const APMPValuePtr* APMPPropertyMap::find(const std::u16string& name) const {
  const Entry* entry = findEntry(name);
  return entry == nullptr ? nullptr : &entry->value;
}

APMPValuePtr APMPPropertyMap::valueForName(const std::u16string& name) const {
  const Entry* entry = findEntry(name);
  return entry == nullptr ? APMPUndefined() : entry->value;
}

void APMPPropertyMap::store(APMPValuePtr value, const std::u16string& name, bool immutable) {
  if (m_immutable) return;
  if (Entry* entry = findEntry(name)) {
    if (entry->immutable) return;
    APMPValuePtr previous = std::move(entry->value);
    entry->value = std::move(value);
    entry->immutable = immutable;
    APMPReleaseLater(previous);
    return;
  }
  APMPChargeMemory(sizeof(Entry) + name.size() * sizeof(char16_t));
  m_entries.push_back(Entry{name, std::move(value), immutable});
  if (!m_index.empty()) {
    m_index.emplace(name, m_entries.size() - 1);
  } else if (m_entries.size() > kIndexThreshold) {
    rebuildIndex();
  }
}

void APMPPropertyMap::setValue(APMPValuePtr value, const std::u16string& name) { store(std::move(value), name, false); }

void APMPPropertyMap::setImmutableValue(APMPValuePtr value, const std::u16string& name) {
  store(std::move(value), name, true);
}

void APMPPropertyMap::removeValueForName(const std::u16string& name) {
  if (m_immutable) return;
  Entry* entry = findEntry(name);
  if (entry == nullptr || entry->immutable) return;
  APMPValuePtr previous = std::move(entry->value);
  m_entries.erase(m_entries.begin() + (entry - m_entries.data()));
  if (!m_index.empty()) rebuildIndex();
  APMPReleaseLater(previous);
}

void APMPPropertyMap::rebuildIndex() {
  m_index.clear();
  if (m_entries.size() <= kIndexThreshold) return;
  m_index.reserve(m_entries.size());
  for (size_t i = 0; i < m_entries.size(); ++i) m_index.emplace(m_entries[i].name, i);
}

std::vector<std::u16string> APMPPropertyMap::allNames() const {
  std::vector<std::u16string> names;
  names.reserve(m_entries.size());
  for (const Entry& entry : m_entries) names.push_back(entry.name);
  return names;
}

void APMPPropertyMap::markValues(APMPMarker& marker) const {
  for (const Entry& entry : m_entries) marker.mark(entry.value);
}

void APMPPropertyMap::clear() {
  std::vector<APMPValuePtr> values;
  values.reserve(m_entries.size());
  for (Entry& entry : m_entries) values.push_back(std::move(entry.value));
  m_entries.clear();
  m_index.clear();
  APMPReleaseLater(values);
}

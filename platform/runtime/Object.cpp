#include "platform/runtime/Object.h"

#include <utility>

namespace platform {

Object::Object(std::string className) : m_className(std::move(className)) {}

Object::~Object() = default;

std::string Object::className() const {
  std::lock_guard lock(m_mutex);
  return m_className;
}

void Object::setClassName(std::string name) {
  std::lock_guard lock(m_mutex);
  m_className = std::move(name);
}

void Object::setAssociated(const std::string& key, std::any value) {
  std::any previous;  // released after the lock: its destructor may call back in
  std::lock_guard lock(m_mutex);
  auto it = m_associated.find(key);
  if (it != m_associated.end()) {
    previous = std::move(it->second);
    if (value.has_value()) {
      it->second = std::move(value);
    } else {
      m_associated.erase(it);
    }
  } else if (value.has_value()) {
    m_associated.emplace(key, std::move(value));
  }
}

std::any Object::associated(const std::string& key) const {
  std::lock_guard lock(m_mutex);
  auto it = m_associated.find(key);
  return it == m_associated.end() ? std::any() : it->second;
}

void Object::removeAssociatedObjects() {
  std::map<std::string, std::any> released;
  std::lock_guard lock(m_mutex);
  released.swap(m_associated);
}

void Object::setProperty(const std::string& name, std::any value) {
  std::any old;
  std::shared_ptr<PropertySignal> observers;
  {
    std::lock_guard lock(m_mutex);
    std::any& slot = m_properties[name];
    old = std::exchange(slot, value);
    auto it = m_propertyObservers.find(name);
    if (it != m_propertyObservers.end()) observers = it->second;
  }
  if (observers) observers->send(old, value);
}

std::any Object::property(const std::string& name) const {
  std::lock_guard lock(m_mutex);
  auto it = m_properties.find(name);
  return it == m_properties.end() ? std::any() : it->second;
}

Cancellable Object::observeProperty(const std::string& name, PropertyObserver observer) {
  std::shared_ptr<PropertySignal> signal;
  {
    std::lock_guard lock(m_mutex);
    std::shared_ptr<PropertySignal>& slot = m_propertyObservers[name];
    if (!slot) slot = std::make_shared<PropertySignal>();
    signal = slot;
  }
  return signal->subscribe(std::move(observer));
}

}  // namespace platform

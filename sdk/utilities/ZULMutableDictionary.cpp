#include "sdk/utilities/ZULMutableDictionary.h"

#include <utility>

ZULMutableDictionary::ZULMutableDictionary() : m_objects(std::make_shared<Map>()), m_queue(kQueueLabel) {}

std::optional<platform::Value> ZULMutableDictionary::objectForKey(const platform::Value& key) const {
  return m_queue.sync([&]() -> std::optional<platform::Value> {
    auto found = m_objects->find(key);
    if (found == m_objects->end()) return std::nullopt;
    return found->second;
  });
}

size_t ZULMutableDictionary::count() const {
  return m_queue.sync([&] { return m_objects->size(); });
}

ZULMutableDictionary::Map ZULMutableDictionary::dictionary() const {
  return m_queue.sync([&] { return *m_objects; });
}

std::string ZULMutableDictionary::description() const {
  return m_queue.sync([&] {
    std::string text = "{";
    bool first = true;
    for (const auto& [key, value] : *m_objects) {
      text += first ? "\n    " : ";\n    ";
      text += key.description() + " = " + value.description();
      first = false;
    }
    return text + (first ? "}" : ";\n}");
  });
}

void ZULMutableDictionary::setObject(platform::Value object, const platform::Value& key) {
  m_queue.async([objects = m_objects, key = key.copy(), object = std::move(object)]() mutable {
    objects->insert_or_assign(std::move(key), std::move(object));
  });
}

void ZULMutableDictionary::setObjectForKeyedSubscript(std::optional<platform::Value> object,
                                                      const platform::Value& key) {
  if (object) {
    setObject(std::move(*object), key);
  } else {
    removeObjectForKey(key);
  }
}

void ZULMutableDictionary::removeObjectForKey(const platform::Value& key) {
  m_queue.async([objects = m_objects, key = key.copy()] { objects->erase(key); });
}

void ZULMutableDictionary::removeAllObjects() {
  m_queue.async([objects = m_objects] { objects->clear(); });
}

// Object: the base of objects that take part in the dynamic object model.
//
// Each object carries the name of its class in the ClassRegistry. The name
// starts as the one given at construction and can be changed at run time by
// ClassRegistry::setClass (the object's method look-up then starts at the
// new class). Objects also carry:
//  - associated objects: key -> shared_ptr<T>, kept alive by the object and
//    released with it (or when removed or replaced);
//  - properties set through the runtime (setProperty), which observers can
//    watch: an observer hears (old, new) after each setProperty of its name,
//    on the setting thread.
//
// Thread safety: every member may be called from any thread. Observers and
// the destructors of replaced associated objects run outside internal locks.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/observable/Cancellable.h"
#include "platform/observable/Signal.h"

namespace platform {

class Object : public std::enable_shared_from_this<Object> {
 public:
  explicit Object(std::string className);
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  std::string className() const;

  // Associated objects. A nullptr value removes the key. Reading with a type
  // other than the stored one answers nullptr.
  template <class T>
  void setAssociatedObject(const std::string& key, std::shared_ptr<T> value) {
    std::any slot;
    if (value) slot = std::move(value);
    setAssociated(key, std::move(slot));
  }
  template <class T>
  std::shared_ptr<T> associatedObject(const std::string& key) const {
    std::any slot = associated(key);
    if (const auto* typed = std::any_cast<std::shared_ptr<T>>(&slot)) return *typed;
    return nullptr;
  }
  bool hasAssociatedObject(const std::string& key) const { return associated(key).has_value(); }
  void removeAssociatedObject(const std::string& key) { setAssociated(key, std::any()); }
  void removeAssociatedObjects();

  // Properties set through the runtime. An empty std::any means "no value".
  using PropertyObserver = std::function<void(const std::any& oldValue, const std::any& newValue)>;
  void setProperty(const std::string& name, std::any value);
  std::any property(const std::string& name) const;
  template <class T>
  std::optional<T> propertyAs(const std::string& name) const {
    std::any value = property(name);
    if (const T* typed = std::any_cast<T>(&value)) return *typed;
    return std::nullopt;
  }
  Cancellable observeProperty(const std::string& name, PropertyObserver observer);

 private:
  friend class ClassRegistry;
  void setClassName(std::string name);
  void setAssociated(const std::string& key, std::any value);
  std::any associated(const std::string& key) const;

  using PropertySignal = Signal<std::any, std::any>;

  mutable std::mutex m_mutex;
  std::string m_className;
  std::map<std::string, std::any> m_associated;
  std::map<std::string, std::any> m_properties;
  std::map<std::string, std::shared_ptr<PropertySignal>> m_propertyObservers;
};

}  // namespace platform

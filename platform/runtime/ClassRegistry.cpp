#include "platform/runtime/ClassRegistry.h"

#include <mutex>

#include "platform/values/Exception.h"

namespace platform {

ClassRegistry::ClassRegistry() { m_classes.emplace(kRootClass, ClassInfo{}); }

ClassRegistry& ClassRegistry::shared() {
  static auto* const registry = [] {
    auto* made = new ClassRegistry();
    // The platform's own classes that libraries look up by name.
    made->registerClass(kUserActivityClass);
    return made;
  }();
  return *registry;
}

std::map<std::string, Implementation>& ClassRegistry::table(ClassInfo& info, MethodKind kind) {
  return kind == MethodKind::Class ? info.classMethods : info.instanceMethods;
}

const std::map<std::string, Implementation>& ClassRegistry::table(const ClassInfo& info, MethodKind kind) {
  return kind == MethodKind::Class ? info.classMethods : info.instanceMethods;
}

template <class Visit>
bool ClassRegistry::walk(const std::string& name, Visit visit) const {
  // Chains are acyclic (a superclass must exist before its subclass and
  // cannot be removed while it has one); the bound is only a backstop.
  const std::string* current = &name;
  for (size_t depth = 0; depth <= m_classes.size(); ++depth) {
    auto it = m_classes.find(*current);
    if (it == m_classes.end()) return false;
    if (visit(it->second)) return true;
    if (it->second.superclass.empty()) return false;
    current = &it->second.superclass;
  }
  return false;
}

bool ClassRegistry::registerClass(const std::string& name, const std::string& superclass, Factory factory) {
  std::unique_lock lock(m_mutex);
  if (name.empty() || m_classes.count(name) || !m_classes.count(superclass)) return false;
  ClassInfo info;
  info.superclass = superclass;
  info.factory = std::move(factory);
  m_classes.emplace(name, std::move(info));
  return true;
}

bool ClassRegistry::removeClass(const std::string& name) {
  ClassInfo removed;  // destroyed after the lock: implementations may hold anything
  std::unique_lock lock(m_mutex);
  auto it = m_classes.find(name);
  if (it == m_classes.end() || name == kRootClass) return false;
  for (const auto& [other, info] : m_classes) {
    if (info.superclass == name) return false;
  }
  removed = std::move(it->second);
  m_classes.erase(it);
  return true;
}

bool ClassRegistry::exists(const std::string& name) const {
  std::shared_lock lock(m_mutex);
  return m_classes.count(name) != 0;
}

std::optional<std::string> ClassRegistry::superclass(const std::string& name) const {
  std::shared_lock lock(m_mutex);
  auto it = m_classes.find(name);
  if (it == m_classes.end() || it->second.superclass.empty()) return std::nullopt;
  return it->second.superclass;
}

bool ClassRegistry::isKindOf(const std::string& name, const std::string& ancestor) const {
  std::shared_lock lock(m_mutex);
  std::string current = name;
  for (size_t depth = 0; depth <= m_classes.size(); ++depth) {
    auto it = m_classes.find(current);
    if (it == m_classes.end()) return false;
    if (current == ancestor) return true;
    if (it->second.superclass.empty()) return false;
    current = it->second.superclass;
  }
  return false;
}

bool ClassRegistry::addMethod(const std::string& className, const std::string& selector,
                              Implementation implementation, MethodKind kind) {
  if (!implementation) return false;
  std::unique_lock lock(m_mutex);
  auto it = m_classes.find(className);
  if (it == m_classes.end()) return false;
  return table(it->second, kind).emplace(selector, std::move(implementation)).second;
}

Implementation ClassRegistry::lookup(const std::string& className, const std::string& selector,
                                     MethodKind kind) const {
  Implementation found;
  walk(className, [&](const ClassInfo& info) {
    const auto& methods = table(info, kind);
    auto it = methods.find(selector);
    if (it == methods.end()) return false;
    found = it->second;
    return true;
  });
  return found;
}

Implementation ClassRegistry::replaceMethod(const std::string& className, const std::string& selector,
                                            Implementation implementation, MethodKind kind) {
  Implementation previous;
  std::unique_lock lock(m_mutex);
  auto it = m_classes.find(className);
  if (it == m_classes.end() || !implementation) return previous;
  previous = lookup(className, selector, kind);
  table(it->second, kind)[selector] = std::move(implementation);
  return previous;
}

Implementation ClassRegistry::method(const std::string& className, const std::string& selector,
                                     MethodKind kind) const {
  std::shared_lock lock(m_mutex);
  return lookup(className, selector, kind);
}

bool ClassRegistry::hasOwnMethod(const std::string& className, const std::string& selector, MethodKind kind) const {
  std::shared_lock lock(m_mutex);
  auto it = m_classes.find(className);
  return it != m_classes.end() && table(it->second, kind).count(selector) != 0;
}

std::any ClassRegistry::send(Object& receiver, const std::string& selector, const Arguments& arguments) const {
  const std::string className = receiver.className();
  Implementation implementation = method(className, selector, MethodKind::Instance);
  if (!implementation) {
    Exception::raise(Exception::kInvalidArgumentException,
                     "-[" + className + " " + selector + "]: unrecognized selector sent to instance");
  }
  return implementation(&receiver, arguments);
}

std::any ClassRegistry::sendClass(const std::string& className, const std::string& selector,
                                  const Arguments& arguments) const {
  Implementation implementation = method(className, selector, MethodKind::Class);
  if (!implementation) {
    Exception::raise(Exception::kInvalidArgumentException,
                     "+[" + className + " " + selector + "]: unrecognized selector sent to class");
  }
  return implementation(nullptr, arguments);
}

bool ClassRegistry::addProtocol(const std::string& className, const std::string& protocol) {
  std::unique_lock lock(m_mutex);
  auto it = m_classes.find(className);
  if (it == m_classes.end() || protocol.empty()) return false;
  it->second.protocols.insert(protocol);
  return true;
}

bool ClassRegistry::conformsTo(const std::string& className, const std::string& protocol) const {
  std::shared_lock lock(m_mutex);
  return walk(className, [&](const ClassInfo& info) { return info.protocols.count(protocol) != 0; });
}

std::shared_ptr<Object> ClassRegistry::make(const std::string& name) const {
  Factory factory;
  {
    std::shared_lock lock(m_mutex);
    walk(name, [&](const ClassInfo& info) {
      if (!info.factory) return false;
      factory = info.factory;
      return true;
    });
  }
  if (!factory) return nullptr;
  std::shared_ptr<Object> object = factory();
  if (object && object->className() != name) object->setClassName(name);
  return object;
}

bool ClassRegistry::setClass(Object& object, const std::string& name) const {
  if (!exists(name)) return false;
  object.setClassName(name);
  return true;
}

}  // namespace platform

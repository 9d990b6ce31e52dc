// ClassRegistry: the small dynamic object model. Classes are registered by
// name (explicitly, by each library's registration function; nothing
// registers itself). A class has a superclass (every chain ends at the root
// class "NSObject", which every registry starts with), optional factory,
// class methods and instance methods by selector name, and protocol names.
//
// Look-ups (method, respondsTo, conformsTo, make) walk the superclass chain.
// Method tables can be changed at run time:
//  - addMethod adds only when the class itself has no method of that name
//    (an inherited one may be overridden);
//  - replaceMethod installs the new implementation in the class itself and
//    returns the implementation a call would have reached before (the
//    class's own or an inherited one, empty when none), which stays callable;
//  - createSubclass makes a new class at run time and setClass changes the
//    class of an existing object, whose look-ups then start at the new class.
//
// Implementations receive the receiver (nullptr for class methods) and the
// arguments as std::any, and answer a std::any (empty for "void"/nil).
// Sending a selector nobody implements is a programming error: send and
// sendClass raise Exception "NSInvalidArgumentException".
//
// Thread safety: every member may be called from any thread; table changes
// are atomic with respect to look-ups. Implementations are copied out and
// called without any registry lock held, so they may use the registry.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/runtime/Object.h"

namespace platform {

enum class MethodKind { Instance, Class };

using Arguments = std::vector<std::any>;
using Implementation = std::function<std::any(Object* self, const Arguments& arguments)>;
using Factory = std::function<std::shared_ptr<Object>()>;

class ClassRegistry {
 public:
  static constexpr const char* kRootClass = "NSObject";
  // The user activity (platform/app/UserActivity.h), registered in the
  // shared registry from its start.
  static constexpr const char* kUserActivityClass = "NSUserActivity";

  ClassRegistry();
  ClassRegistry(const ClassRegistry&) = delete;
  ClassRegistry& operator=(const ClassRegistry&) = delete;

  // The process-wide registry the libraries register into.
  static ClassRegistry& shared();

  // False when the name is empty or taken, or the superclass is unknown.
  bool registerClass(const std::string& name, const std::string& superclass = kRootClass, Factory factory = {});
  // A class made at run time: no factory of its own, no methods yet.
  bool createSubclass(const std::string& name, const std::string& superclass) {
    return registerClass(name, superclass);
  }
  // Removes a class without subclasses (tests); false otherwise.
  bool removeClass(const std::string& name);

  bool exists(const std::string& name) const;
  std::optional<std::string> superclass(const std::string& name) const;
  // True when `name` is `ancestor` or inherits from it.
  bool isKindOf(const std::string& name, const std::string& ancestor) const;

  bool addMethod(const std::string& className, const std::string& selector, Implementation implementation,
                 MethodKind kind = MethodKind::Instance);
  // Empty result also when the class does not exist (nothing installed then).
  Implementation replaceMethod(const std::string& className, const std::string& selector,
                               Implementation implementation, MethodKind kind = MethodKind::Instance);
  // The implementation a call reaches (own or inherited); empty when none.
  Implementation method(const std::string& className, const std::string& selector,
                        MethodKind kind = MethodKind::Instance) const;
  // Whether the class itself (not a superclass) has the method.
  bool hasOwnMethod(const std::string& className, const std::string& selector,
                    MethodKind kind = MethodKind::Instance) const;

  bool respondsTo(const std::string& className, const std::string& selector) const {
    return static_cast<bool>(method(className, selector, MethodKind::Class));
  }
  bool instancesRespondTo(const std::string& className, const std::string& selector) const {
    return static_cast<bool>(method(className, selector, MethodKind::Instance));
  }
  bool respondsTo(const Object& object, const std::string& selector) const {
    return instancesRespondTo(object.className(), selector);
  }

  std::any send(Object& receiver, const std::string& selector, const Arguments& arguments = {}) const;
  std::any sendClass(const std::string& className, const std::string& selector,
                     const Arguments& arguments = {}) const;

  bool addProtocol(const std::string& className, const std::string& protocol);
  bool conformsTo(const std::string& className, const std::string& protocol) const;
  bool conformsTo(const Object& object, const std::string& protocol) const {
    return conformsTo(object.className(), protocol);
  }

  // A new instance from the nearest factory in the chain, with its class set
  // to `name`; nullptr when the class is unknown or has no factory.
  std::shared_ptr<Object> make(const std::string& name) const;
  template <class T>
  std::shared_ptr<T> make(const std::string& name) const {
    return std::dynamic_pointer_cast<T>(make(name));
  }

  // Changes the object's class; false (and no change) when `name` is unknown.
  bool setClass(Object& object, const std::string& name) const;

 private:
  struct ClassInfo {
    std::string superclass;  // empty for the root
    Factory factory;
    std::map<std::string, Implementation> instanceMethods;
    std::map<std::string, Implementation> classMethods;
    std::set<std::string> protocols;
  };
  static std::map<std::string, Implementation>& table(ClassInfo& info, MethodKind kind);
  static const std::map<std::string, Implementation>& table(const ClassInfo& info, MethodKind kind);
  // Walks name, its superclass, ... while visit answers false; under m_mutex.
  template <class Visit>
  bool walk(const std::string& name, Visit visit) const;
  Implementation lookup(const std::string& className, const std::string& selector, MethodKind kind) const;

  mutable std::shared_mutex m_mutex;
  std::map<std::string, ClassInfo> m_classes;
};

}  // namespace platform

// ZULSwizzler: replaces the implementation of an existing method of a class
// registered in platform::ClassRegistry::shared() and looks up a method's
// current implementation. Replacements and look-ups run one at a time on the
// serial queue "com.zoruvu.ZULSwizzler" and block the caller until done; do
// not call them from a task on that queue.
//
// A replacement made from a block is called with the receiver first (nullptr
// for a class method) and the arguments; the previous implementation is not
// returned (ask currentImplementationForClass first). Misuse goes to the
// current assertion handler (ZULAssertionHandler; by default an
// "NSInternalInconsistencyException"): an empty selector ("The selector
// cannot be NULL"), an empty class name ("The class cannot be Nil"), a method
// that does not exist.
//
// There are no instance variables in the object model, so there is no
// listing of them.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <string>

#include "platform/runtime/ClassRegistry.h"

class ZULSwizzler {
 public:
  static constexpr const char* kQueueLabel = "com.zoruvu.ZULSwizzler";

  static void swizzleClass(const std::string& className, const std::string& selector, bool isClassSelector,
                           platform::Implementation withBlock);
  // Empty when misused (after the assertion handler returned) or missing.
  static platform::Implementation currentImplementationForClass(const std::string& className,
                                                                const std::string& selector, bool isClassSelector);
  // Whether the class (through its superclass chain) has the method.
  static bool selector(const std::string& selector, const std::string& existsInClass, bool isClassSelector);
};

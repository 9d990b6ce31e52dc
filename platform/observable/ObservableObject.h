// ObservableObject: a base for objects whose observers want one signal for
// "something in me is about to change". Published members constructed with
// the owner send objectWillChange() before their own subscribers hear the new
// value (and before it is stored). Subclasses may also send it by hand.
//
// Thread safety: as Signal (subscribe/cancel from any thread); sending
// follows the owner's mutation contract (the main thread).
#pragma once

#include "platform/observable/Signal.h"

namespace platform {

class ObservableObject {
 public:
  ObservableObject() = default;
  virtual ~ObservableObject() = default;
  ObservableObject(const ObservableObject&) = delete;
  ObservableObject& operator=(const ObservableObject&) = delete;

  Signal<>& objectWillChange() { return m_objectWillChange; }

 private:
  Signal<> m_objectWillChange;
};

}  // namespace platform

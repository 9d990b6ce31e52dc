// NotificationObject: the "object" of a notification, used for filtering by
// identity. It either refers to an object without owning it (a pointer used
// only as an identity, never dereferenced by the centre) or shares ownership
// of it (shared_ptr), in which case receivers can get it back typed.
//
// The identity of a polymorphic object is its most-derived address, so a
// filter made from a base-class pointer matches a post made with a
// derived-class pointer to the same object. A default NotificationObject is
// "none": as a filter it means "any object".
//
// Thread safety: an immutable value.
#pragma once

#include <memory>
#include <type_traits>
#include <typeinfo>

namespace platform {

template <class T>
const void* identityOf(const T* object) {
  if constexpr (std::is_polymorphic_v<T>) {
    return object ? dynamic_cast<const void*>(object) : nullptr;
  } else {
    return object;
  }
}

class NotificationObject {
 public:
  NotificationObject() = default;
  NotificationObject(std::nullptr_t) {}
  template <class T>
  NotificationObject(const T* object) : m_identity(identityOf(object)) {}
  template <class T>
  NotificationObject(T* object) : m_identity(identityOf(static_cast<const T*>(object))) {}
  template <class T>
  NotificationObject(std::shared_ptr<T> object)
      : m_identity(identityOf(static_cast<const T*>(object.get()))),
        m_type(object ? &typeid(T) : nullptr),
        m_shared(std::const_pointer_cast<std::remove_const_t<T>>(std::move(object))) {}

  const void* identity() const { return m_identity; }
  explicit operator bool() const { return m_identity != nullptr; }
  bool operator==(const NotificationObject& other) const { return m_identity == other.m_identity; }

  // The shared object when it was given as a shared_ptr<T> of exactly this T.
  template <class T>
  std::shared_ptr<T> as() const {
    if (!m_shared || *m_type != typeid(T)) return nullptr;
    return std::static_pointer_cast<T>(m_shared);
  }

 private:
  const void* m_identity = nullptr;
  const std::type_info* m_type = nullptr;
  std::shared_ptr<void> m_shared;
};

}  // namespace platform

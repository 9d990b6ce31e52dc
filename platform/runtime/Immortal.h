// A process-wide object that is never destroyed. Work still running while the
// process exits (queued blocks, other threads, destructors of other statics)
// may use it after the static objects are gone. Constant-initialized when T's
// default constructor is constexpr, so static initializers may use it too.
#pragma once

#include <utility>

namespace platform {

template <class T>
class Immortal {
 public:
  template <class... Args>
  constexpr explicit Immortal(Args&&... args) : m_value(std::forward<Args>(args)...) {}
  ~Immortal() {}  // the value is left alone on purpose
  Immortal(const Immortal&) = delete;
  Immortal& operator=(const Immortal&) = delete;

  constexpr T& get() { return m_value; }
  constexpr T& operator*() { return m_value; }
  constexpr T* operator->() { return &m_value; }

 private:
  union {
    T m_value;
  };
};

}  // namespace platform

// weakTask(weak, fn): a callable that holds its target weakly. When called it
// locks the target and runs fn(shared_ptr<T>, args...), or does nothing when
// the target is gone. Use it for every block that "holds X weakly".
//
// Thread safety: as safe as fn; locking the weak pointer is thread-safe.
#pragma once

#include <memory>
#include <utility>

namespace platform {

template <typename T, typename F>
auto weakTask(std::weak_ptr<T> target, F fn) {
  return [target = std::move(target), fn = std::move(fn)](auto&&... args) mutable {
    if (std::shared_ptr<T> strong = target.lock()) {
      fn(std::move(strong), std::forward<decltype(args)>(args)...);
    }
  };
}

template <typename T, typename F>
auto weakTask(const std::shared_ptr<T>& target, F fn) {
  return weakTask(std::weak_ptr<T>(target), std::move(fn));
}

}  // namespace platform

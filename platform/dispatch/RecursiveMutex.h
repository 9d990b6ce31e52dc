// RecursiveMutex: the lock of "lock on this object" monitors, which the owner
// may re-enter from a handler it calls while holding the lock. A plain
// std::mutex deadlocks there; use this for monitors and std::mutex elsewhere.
//
// Thread safety: as std::recursive_mutex.
#pragma once

#include <mutex>

namespace platform {

using RecursiveMutex = std::recursive_mutex;
using RecursiveLock = std::lock_guard<std::recursive_mutex>;

// Runs fn with the mutex held and returns its result.
template <typename F>
auto withLock(RecursiveMutex& mutex, F&& fn) {
  RecursiveLock lock(mutex);
  return fn();
}

}  // namespace platform

// ZULZeroingWeakContainer: holds one object weakly; object() answers nullptr
// once the owner has released it. The application-delegate proxy keeps its
// interceptors in these.
//
// Thread safety: not synchronised; the proxy guards its containers with its
// own lock and only reads them from snapshots.
#pragma once

#include <memory>

#include "platform/runtime/Object.h"

class ZULZeroingWeakContainer {
 public:
  std::shared_ptr<platform::Object> object() const { return m_object.lock(); }
  void setObject(std::weak_ptr<platform::Object> object) { m_object = std::move(object); }

 private:
  std::weak_ptr<platform::Object> m_object;
};

// NotificationQueue: posts a notification later through a centre.
//
// enqueue(n, PostingStyle::AsSoonAsPossible) posts n on the main queue at
// its next turn (no coalescing); WhenIdle is treated the same way; Now posts
// at once on the calling thread. A post whose centre is gone by then is
// dropped.
//
// Thread safety: enqueue may be called from any thread.
#pragma once

#include <memory>

#include "platform/notifications/NotificationCenter.h"

namespace platform {

enum class PostingStyle { WhenIdle, AsSoonAsPossible, Now };

class NotificationQueue {
 public:
  explicit NotificationQueue(NotificationCenter& center);
  static NotificationQueue& defaultQueue();  // posts through the default centre

  void enqueue(Notification notification, PostingStyle style = PostingStyle::AsSoonAsPossible);

 private:
  std::weak_ptr<NotificationCenter::State> m_center;
};

}  // namespace platform

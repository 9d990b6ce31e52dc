#include "sdk/transport/ZDTCORReachability.h"

#include "sdk/transport/ZDTCORConsoleLogger.h"

std::shared_ptr<ZDTCORReachability> ZDTCORReachability::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCORReachability>([] {
    auto reachability = std::make_shared<ZDTCORReachability>();
    reachability->startWatching();
    return reachability;
  }());
  return *shared;
}

platform::ReachabilityFlags ZDTCORReachability::currentFlags() { return sharedInstance()->readCurrentFlags(); }

ZDTCORReachability::ZDTCORReachability() : m_queue("com.zoruvu.ZDTCORReachability") {}

void ZDTCORReachability::startWatching() {
  std::weak_ptr<ZDTCORReachability> weak = weak_from_this();
  m_queue.async([this, weak] {
    auto self = weak.lock();
    if (!self) return;
    // Reads the flags once, then reports each change on this queue.
    m_provider = std::make_unique<platform::ReachabilityFlagsProvider>(
        m_queue,
        [weak](platform::ReachabilityFlags flags) {
          ZDTCORLogDebug("Reachability changed, new flags: " + std::to_string(flags));
          if (auto self = weak.lock()) self->setCallbackFlags(flags);
        },
        "0.0.0.0");
    m_flags = m_provider->initialFlags();
  });
}

platform::ReachabilityFlags ZDTCORReachability::readCurrentFlags() const {
  platform::ReachabilityFlags flags = m_queue.sync([this] { return m_callbackFlags != 0 ? m_callbackFlags : m_flags; });
  ZDTCORLogDebug("Initial reachability flags determined: " + std::to_string(flags));
  return flags;
}

platform::ReachabilityFlags ZDTCORReachability::flags() const {
  return m_queue.sync([this] { return m_flags; });
}

void ZDTCORReachability::setFlags(platform::ReachabilityFlags flags) {
  if (m_queue.isCurrent()) {
    m_flags = flags;
  } else {
    m_queue.sync([this, flags] { m_flags = flags; });
  }
}

void ZDTCORReachability::setCallbackFlags(platform::ReachabilityFlags flags) {
  auto store = [this, flags] {
    if (m_callbackFlags != flags) m_callbackFlags = flags;
  };
  if (m_queue.isCurrent()) {
    store();
  } else {
    m_queue.sync(store);
  }
}

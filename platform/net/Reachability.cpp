// Linux backend of ReachabilityApi (see ReachabilityApi.h).
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/net/ReachabilityApi.h"
#include "platform/net/ReachabilityFlagsProvider.h"

namespace platform {

namespace {

struct Target {
  std::string host;
  std::mutex mutex;                  // guards everything below
  std::recursive_mutex deliveryMutex;  // held while a callback runs
  ReachabilityCallback callback = nullptr;
  void* info = nullptr;
  ReachabilityRef ref = nullptr;
  std::optional<DispatchQueue> queue;
  uint64_t generation = 0;  // bumped by every schedule/unschedule
  bool scheduled = false;
  bool evaluating = false;
  bool again = false;
  std::optional<ReachabilityFlags> lastDelivered;
};

struct Handle {
  std::shared_ptr<Target> target;
};

Target* targetOf(ReachabilityRef ref) {
  return ref ? static_cast<Handle*>(ref)->target.get() : nullptr;
}

void requestEvaluation(const std::shared_ptr<Target>& target);

// Watches a netlink route socket and re-evaluates every scheduled target on
// address, link or route changes. Lives for the whole process.
class ChangeMonitor {
 public:
  static ChangeMonitor& shared() {
    static ChangeMonitor* monitor = new ChangeMonitor();
    return *monitor;
  }

  void add(const std::shared_ptr<Target>& target) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_targets.push_back(target);
    ensureThread();
  }

 private:
  void ensureThread() {
    if (m_started) return;
    m_started = true;
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return;  // no change monitoring; evaluations after scheduling still happen
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                        RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return;
    }
    std::thread([this, fd] { run(fd); }).detach();
  }

  void run(int fd) {
    std::vector<char> buffer(16384);
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, -1) <= 0) continue;
      // Drain the burst that one change produces, then evaluate once.
      while (::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
      }
      std::vector<std::shared_ptr<Target>> live;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::weak_ptr<Target>> kept;
        for (auto& weak : m_targets) {
          if (auto target = weak.lock()) {
            live.push_back(target);
            kept.push_back(weak);
          }
        }
        m_targets.swap(kept);
      }
      for (auto& target : live) requestEvaluation(target);
    }
  }

  std::mutex m_mutex;
  std::vector<std::weak_ptr<Target>> m_targets;
  bool m_started = false;
};

bool anyInterfaceUp() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool up = false;
  for (ifaddrs* i = list; i && !up; i = i->ifa_next) {
    if (!i->ifa_addr || (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP)) continue;
    if (!(i->ifa_flags & IFF_RUNNING)) continue;
    up = i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6;
  }
  ::freeifaddrs(list);
  return up;
}

bool hostRoutable(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* results = nullptr;
  if (::getaddrinfo(host.c_str(), "9", &hints, &results) != 0) return false;
  bool ok = false;
  for (addrinfo* r = results; r && !ok; r = r->ai_next) {
    int fd = ::socket(r->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    // Connecting a datagram socket only picks a route; nothing is sent.
    ok = ::connect(fd, r->ai_addr, r->ai_addrlen) == 0;
    ::close(fd);
  }
  ::freeaddrinfo(results);
  return ok;
}

void deliver(const std::shared_ptr<Target>& target, uint64_t generation, ReachabilityFlags flags) {
  std::lock_guard<std::recursive_mutex> delivering(target->deliveryMutex);
  ReachabilityCallback callback;
  void* info;
  ReachabilityRef ref;
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    if (!target->scheduled || target->generation != generation) return;
    callback = target->callback;
    info = target->info;
    ref = target->ref;
  }
  if (callback) callback(ref, flags, info);
}

void evaluationDone(const std::shared_ptr<Target>& target, ReachabilityFlags flags) {
  bool again = false;
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    target->evaluating = false;
    again = target->again;
    target->again = false;
    if (target->scheduled && target->queue && target->lastDelivered != flags) {
      target->lastDelivered = flags;
      uint64_t generation = target->generation;
      target->queue->async([target, generation, flags] { deliver(target, generation, flags); });
    }
  }
  if (again) requestEvaluation(target);
}

void requestEvaluation(const std::shared_ptr<Target>& target) {
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    if (!target->scheduled) return;
    if (target->evaluating) {
      target->again = true;
      return;
    }
    target->evaluating = true;
  }
  globalQueue(Qos::Utility).async([target] {
    evaluationDone(target, reachability::evaluate(target->host));
  });
}

ReachabilityRef createWithName(const char* hostName) {
  if (!hostName || !*hostName) return nullptr;
  auto* handle = new Handle{std::make_shared<Target>()};
  handle->target->host = hostName;
  handle->target->ref = handle;
  return handle;
}

bool setCallback(ReachabilityRef ref, ReachabilityCallback callback, void* info) {
  Target* target = targetOf(ref);
  if (!target) return false;
  std::lock_guard<std::mutex> lock(target->mutex);
  target->callback = callback;
  target->info = info;
  return true;
}

bool unschedule(ReachabilityRef ref) {
  Target* target = targetOf(ref);
  if (!target) return false;
  // Waits for a callback running on another thread (re-entrant on this one).
  std::lock_guard<std::recursive_mutex> delivering(target->deliveryMutex);
  std::lock_guard<std::mutex> lock(target->mutex);
  if (!target->scheduled) return false;
  target->scheduled = false;
  target->generation++;
  target->queue.reset();
  return true;
}

bool scheduleWithMainLoop(ReachabilityRef ref) {
  return reachability::scheduleOnQueue(ref, mainQueue());
}

void release(ReachabilityRef ref) {
  if (!ref) return;
  unschedule(ref);
  delete static_cast<Handle*>(ref);
}

const ReachabilityApi kBuiltIn{&createWithName, &setCallback, &scheduleWithMainLoop, &unschedule, &release};
std::atomic<const ReachabilityApi*> g_current{nullptr};

}  // namespace

const ReachabilityApi& ReachabilityApi::builtIn() { return kBuiltIn; }

const ReachabilityApi* ReachabilityApi::current() {
  const ReachabilityApi* api = g_current.load();
  return api ? api : &kBuiltIn;
}

void ReachabilityApi::setCurrent(const ReachabilityApi* api) { g_current.store(api); }

namespace reachability {

std::optional<ReachabilityFlags> forcedFlags() {
  const char* value = std::getenv(kForceVariable);
  if (!value) return std::nullopt;
  std::string word(value);
  if (word == "reachable") return kReachabilityFlagReachable;
  if (word == "unreachable") return 0;
  return std::nullopt;
}

ReachabilityFlags evaluate(const std::string& host) {
  if (auto forced = forcedFlags()) return *forced;
  bool reachable = (host.empty() || host == "0.0.0.0") ? anyInterfaceUp() : hostRoutable(host);
  return reachable ? kReachabilityFlagReachable : 0;
}

bool scheduleOnQueue(ReachabilityRef ref, DispatchQueue queue) {
  if (!ref) return false;
  auto target = static_cast<Handle*>(ref)->target;
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    if (target->scheduled) return false;
    target->scheduled = true;
    target->generation++;
    target->queue = std::move(queue);
    target->lastDelivered.reset();  // the first evaluation is always reported
  }
  ChangeMonitor::shared().add(target);
  requestEvaluation(target);
  return true;
}

}  // namespace reachability

ReachabilityFlagsProvider::ReachabilityFlagsProvider(DispatchQueue queue, ChangeHandler onChange,
                                                     std::string host)
    : m_host(std::move(host)), m_onChange(std::move(onChange)) {
  m_initial = reachability::evaluate(m_host);
  m_ref = createWithName(m_host.empty() ? "0.0.0.0" : m_host.c_str());
  if (m_ref && setCallback(m_ref, &ReachabilityFlagsProvider::callback, this)) {
    reachability::scheduleOnQueue(m_ref, std::move(queue));
  }
}

ReachabilityFlagsProvider::~ReachabilityFlagsProvider() { release(m_ref); }

void ReachabilityFlagsProvider::callback(ReachabilityRef, ReachabilityFlags flags, void* info) {
  auto* self = static_cast<ReachabilityFlagsProvider*>(info);
  if (self->m_onChange) self->m_onChange(flags);
}

}  // namespace platform

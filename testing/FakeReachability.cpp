#include "testing/FakeReachability.h"

#include <algorithm>
#include <stdexcept>

#include "platform/dispatch/MainQueue.h"

namespace testkit {

namespace {
std::atomic<FakeReachability*> g_instance{nullptr};
}

FakeReachability::FakeReachability() {
  FakeReachability* expected = nullptr;
  if (!g_instance.compare_exchange_strong(expected, this)) {
    throw std::logic_error("FakeReachability: only one may exist at a time");
  }
  platform::ReachabilityApi::setCurrent(&api());
}

FakeReachability::~FakeReachability() {
  platform::ReachabilityApi::setCurrent(nullptr);
  g_instance.store(nullptr);
  std::lock_guard<std::mutex> lock(m_mutex);
  for (Handle* h : m_handles) delete h;  // handles never released by the code under test
}

const platform::ReachabilityApi& FakeReachability::api() {
  static const platform::ReachabilityApi table{&create, &setCallback, &schedule, &unschedule, &release};
  return table;
}

void FakeReachability::setFlags(const std::string& host, platform::ReachabilityFlags flags) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (Handle* h : m_handles) {
    if (!host.empty() && h->host != host) continue;
    // Re-checked on delivery: the handle may be unscheduled or released by then.
    platform::mainQueue().async([this, h, flags] {
      platform::ReachabilityCallback callback = nullptr;
      void* info = nullptr;
      {
        std::lock_guard<std::mutex> inner(m_mutex);
        if (g_instance.load() != this) return;
        if (std::find(m_handles.begin(), m_handles.end(), h) == m_handles.end() || !h->scheduled) return;
        callback = h->callback;
        info = h->info;
      }
      if (callback) callback(h, flags, info);
    });
  }
}

std::vector<std::string> FakeReachability::createdHosts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_created;
}

int FakeReachability::scheduledCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(std::count_if(m_handles.begin(), m_handles.end(), [](Handle* h) { return h->scheduled; }));
}

platform::ReachabilityRef FakeReachability::create(const char* host) {
  FakeReachability* self = g_instance.load();
  if (!self || self->failCreate || !host || !*host) return nullptr;
  std::lock_guard<std::mutex> lock(self->m_mutex);
  auto* h = new Handle{host};
  self->m_handles.push_back(h);
  self->m_created.push_back(host);
  return h;
}

bool FakeReachability::setCallback(platform::ReachabilityRef ref, platform::ReachabilityCallback callback,
                                   void* info) {
  FakeReachability* self = g_instance.load();
  if (!self || !ref || self->failSetCallback) return false;
  std::lock_guard<std::mutex> lock(self->m_mutex);
  auto* h = static_cast<Handle*>(ref);
  h->callback = callback;
  h->info = info;
  return true;
}

bool FakeReachability::schedule(platform::ReachabilityRef ref) {
  FakeReachability* self = g_instance.load();
  if (!self || !ref || self->failSchedule) return false;
  std::lock_guard<std::mutex> lock(self->m_mutex);
  static_cast<Handle*>(ref)->scheduled = true;
  return true;
}

bool FakeReachability::unschedule(platform::ReachabilityRef ref) {
  FakeReachability* self = g_instance.load();
  if (!self || !ref) return false;
  std::lock_guard<std::mutex> lock(self->m_mutex);
  static_cast<Handle*>(ref)->scheduled = false;
  return true;
}

void FakeReachability::release(platform::ReachabilityRef ref) {
  FakeReachability* self = g_instance.load();
  if (!self || !ref) return;
  std::lock_guard<std::mutex> lock(self->m_mutex);
  auto* h = static_cast<Handle*>(ref);
  auto it = std::find(self->m_handles.begin(), self->m_handles.end(), h);
  if (it == self->m_handles.end()) return;
  self->m_handles.erase(it);
  delete h;
  self->m_releases++;
}

}  // namespace testkit

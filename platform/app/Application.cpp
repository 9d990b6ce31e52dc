#include "platform/app/Application.h"

#include <algorithm>

#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/runtime/Immortal.h"

namespace platform {

namespace {
std::mutex g_sharedMutex;
platform::Immortal<std::shared_ptr<Application>> g_sharedSlot;
std::shared_ptr<Application>& g_shared = *g_sharedSlot;
}  // namespace

std::shared_ptr<Application> Application::shared() {
  std::lock_guard<std::mutex> guard(g_sharedMutex);
  if (!g_shared) g_shared = std::make_shared<Application>();
  return g_shared;
}

void Application::setShared(std::shared_ptr<Application> application) {
  std::lock_guard<std::mutex> guard(g_sharedMutex);
  g_shared = std::move(application);
}

std::shared_ptr<ApplicationDelegate> Application::delegate() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_delegate;
}

void Application::setDelegate(std::shared_ptr<ApplicationDelegate> delegate) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_delegate = std::move(delegate);
}

void Application::setLaunchArguments(std::vector<std::string> arguments) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_arguments = std::move(arguments);
}

void Application::setLaunchArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv != nullptr; ++i) {
    if (argv[i] != nullptr) arguments.emplace_back(argv[i]);
  }
  setLaunchArguments(std::move(arguments));
}

std::vector<std::string> Application::launchArguments() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_arguments;
}

bool Application::hasLaunchArgument(std::string_view argument) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return std::find(m_arguments.begin(), m_arguments.end(), argument) != m_arguments.end();
}

void Application::finishLaunching(Dictionary launchOptions) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_launched || m_terminating) return;
    m_launched = true;
  }
  deliver(Event::DidFinishLaunching, std::move(launchOptions));
}

void Application::becomeActive() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_launched || m_active || m_terminating) return;
    m_active = true;
  }
  deliver(Event::DidBecomeActive, {});
}

void Application::resignActive() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_active || m_terminating) return;
    m_active = false;
  }
  deliver(Event::WillResignActive, {});
}

void Application::terminate() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_terminating) return;
    m_terminating = true;
  }
  deliver(Event::WillTerminate, {});
}

bool Application::hasFinishedLaunching() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_launched;
}

bool Application::isActive() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_active;
}

bool Application::isTerminating() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_terminating;
}

void Application::deliver(Event event, Dictionary userInfo) {
  const char* name = nullptr;
  switch (event) {
    case Event::DidFinishLaunching: name = kApplicationDidFinishLaunchingNotification; break;
    case Event::DidBecomeActive: name = kApplicationDidBecomeActiveNotification; break;
    case Event::WillResignActive: name = kApplicationWillResignActiveNotification; break;
    case Event::WillTerminate: name = kApplicationWillTerminateNotification; break;
  }
  // Receivers can get the application back typed when it is shared-owned.
  NotificationObject object = weak_from_this().expired() ? NotificationObject(this)
                                                         : NotificationObject(shared_from_this());
  Notification notification{name, std::move(object), std::move(userInfo), {}};

  if (auto target = delegate()) {
    switch (event) {
      case Event::DidFinishLaunching: target->applicationDidFinishLaunching(notification); break;
      case Event::DidBecomeActive: target->applicationDidBecomeActive(notification); break;
      case Event::WillResignActive: target->applicationWillResignActive(notification); break;
      case Event::WillTerminate: target->applicationWillTerminate(notification); break;
    }
  }
  NotificationCenter::defaultCenter().post(notification);
}

}  // namespace platform

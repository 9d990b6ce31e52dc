#include "platform/app/UserNotificationCenter.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/runtime/Immortal.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/PercentEncoding.h"
#include "platform/time/Calendar.h"

namespace platform {

namespace {

std::mutex g_currentMutex;
platform::Immortal<std::shared_ptr<UserNotificationCenter>> g_currentSlot;
std::shared_ptr<UserNotificationCenter>& g_current = *g_currentSlot;

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string typeForExtension(const std::string& path) {
  std::string name = fs::lastPathComponent(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  std::string ext = lowercase(name.substr(dot + 1));
  static const std::vector<std::pair<const char*, const char*>> kTypes = {
      {"jpg", "image"}, {"jpeg", "image"}, {"png", "image"}, {"gif", "image"},
      {"aif", "audio"}, {"aiff", "audio"}, {"wav", "audio"}, {"mp3", "audio"}, {"m4a", "audio"},
      {"mpg", "video"}, {"mpeg", "video"}, {"mp4", "video"}, {"m4v", "video"}, {"avi", "video"},
  };
  for (const auto& [e, type] : kTypes) {
    if (ext == e) return type;
  }
  return {};
}

// Local timestamp of a trigger naming a full date; none otherwise.
std::optional<double> triggerDate(const CalendarNotificationTrigger& trigger) {
  const DateComponents& d = trigger.dateComponents;
  if (!d.year || !d.month || !d.day) return std::nullopt;
  CalendarComponents c;
  c.year = *d.year;
  c.month = *d.month;
  c.day = *d.day;
  c.hour = d.hour.value_or(0);
  c.minute = d.minute.value_or(0);
  c.second = d.second.value_or(0);
  if (!Calendar::isValid(c)) return std::nullopt;
  return Calendar::localTimestamp(c);
}

UserNotificationRequest copyOf(const UserNotificationRequest& request) {
  UserNotificationRequest copy = request;
  copy.content.userInfo = request.content.userInfo.copy();
  return copy;
}

}  // namespace

Result<UserNotificationAttachment> UserNotificationAttachment::make(std::string identifier, const std::string& url) {
  auto fail = [&url](int64_t code, const std::string& what) {
    Error error = Error::make(UserNotificationError::kDomain, code, what);
    error.setUserInfo("NSURL", url);
    return Result<UserNotificationAttachment>(std::move(error));
  };
  constexpr std::string_view kScheme = "file://";
  if (url.size() <= kScheme.size() || lowercase(url.substr(0, kScheme.size())) != kScheme) {
    return fail(UserNotificationError::kAttachmentInvalidURL, "Invalid attachment file URL");
  }
  std::string rest = url.substr(kScheme.size());
  if (rest.rfind("localhost/", 0) == 0) rest.erase(0, std::string_view("localhost").size());
  size_t cut = rest.find_first_of("?#");
  if (cut != std::string::npos) rest.erase(cut);
  std::optional<std::string> path = PercentEncoding::decodeBytes(rest);
  if (!path || path->empty() || path->front() != '/' || path->find('\0') != std::string::npos) {
    return fail(UserNotificationError::kAttachmentInvalidURL, "Invalid attachment file URL");
  }
  struct stat st {};
  if (::stat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return fail(UserNotificationError::kAttachmentNotInDataStore, "Attachment file not found");
  }
  std::string type = typeForExtension(*path);
  if (type.empty()) {
    return fail(UserNotificationError::kAttachmentUnrecognizedType, "Unrecognized attachment file type");
  }
  UserNotificationAttachment attachment;
  attachment.identifier = std::move(identifier);
  attachment.url = url;
  attachment.path = std::move(*path);
  attachment.type = std::move(type);
  return attachment;
}

std::shared_ptr<UserNotificationCenter> UserNotificationCenter::current() {
  std::lock_guard<std::mutex> guard(g_currentMutex);
  if (!g_current) g_current = std::make_shared<UserNotificationCenter>();
  return g_current;
}

void UserNotificationCenter::setCurrent(std::shared_ptr<UserNotificationCenter> center) {
  std::lock_guard<std::mutex> guard(g_currentMutex);
  g_current = std::move(center);
}

std::shared_ptr<UserNotificationCenterDelegate> UserNotificationCenter::delegate() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_delegate;
}

void UserNotificationCenter::setDelegate(std::shared_ptr<UserNotificationCenterDelegate> delegate) {
  std::shared_ptr<UserNotificationCenterDelegate> old;
  std::vector<DelegateObserver> observers;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    old = std::exchange(m_delegate, delegate);
    for (const auto& entry : m_observers) observers.push_back(entry.second);
  }
  for (const auto& observer : observers) observer(old, delegate);
}

UserNotificationCenter::Token UserNotificationCenter::addDelegateObserver(DelegateObserver observer) {
  std::lock_guard<std::mutex> guard(m_mutex);
  Token token = m_nextToken++;
  m_observers.emplace_back(token, std::move(observer));
  return token;
}

void UserNotificationCenter::removeDelegateObserver(Token token) {
  std::lock_guard<std::mutex> guard(m_mutex);
  std::erase_if(m_observers, [token](const auto& entry) { return entry.first == token; });
}

UserNotificationCenter::Token UserNotificationCenter::addHook(UserNotificationHook hook) {
  std::lock_guard<std::mutex> guard(m_mutex);
  Token token = m_nextToken++;
  m_hooks.emplace_back(token, std::move(hook));
  return token;
}

void UserNotificationCenter::removeHook(Token token) {
  std::lock_guard<std::mutex> guard(m_mutex);
  std::erase_if(m_hooks, [token](const auto& entry) { return entry.first == token; });
}

void UserNotificationCenter::setNotificationsAllowed(bool allowed) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_allowed = allowed;
}

void UserNotificationCenter::addRequest(UserNotificationRequest request,
                                        std::function<void(std::optional<Error>)> completion) {
  std::optional<Error> error;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_allowed) {
      error = Error::make(UserNotificationError::kDomain, UserNotificationError::kNotificationsNotAllowed,
                          "Notifications are not allowed for this application");
    } else {
      UserNotificationRequest stored = copyOf(request);
      auto same = std::find_if(m_pending.begin(), m_pending.end(),
                               [&](const auto& r) { return r.identifier == stored.identifier; });
      if (same != m_pending.end()) {
        *same = std::move(stored);
      } else {
        m_pending.push_back(std::move(stored));
      }
    }
  }
  if (completion) {
    globalQueue(Qos::Default).async([completion = std::move(completion), error = std::move(error)] {
      completion(error);
    });
  }
}

std::vector<UserNotificationRequest> UserNotificationCenter::pendingRequests() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  std::vector<UserNotificationRequest> out;
  for (const auto& r : m_pending) out.push_back(copyOf(r));
  return out;
}

void UserNotificationCenter::removePendingRequests(const std::vector<std::string>& identifiers) {
  std::lock_guard<std::mutex> guard(m_mutex);
  std::erase_if(m_pending, [&](const auto& r) {
    return std::find(identifiers.begin(), identifiers.end(), r.identifier) != identifiers.end();
  });
}

void UserNotificationCenter::removeAllPendingRequests() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_pending.clear();
}

UserNotificationCenter::Listeners UserNotificationCenter::listeners() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  Listeners now{m_delegate, {}};
  for (const auto& entry : m_hooks) now.hooks.push_back(entry.second);
  return now;
}

void UserNotificationCenter::present(const UserNotification& notification,
                                     UserNotificationPresentationHandler completion) {
  auto [target, hooks] = listeners();
  for (const auto& hook : hooks) {
    if (hook.willPresent) hook.willPresent(notification);
  }
  auto called = std::make_shared<std::atomic<bool>>(false);
  UserNotificationPresentationHandler once = [called, completion](UserNotificationPresentation options) {
    if (!called->exchange(true) && completion) completion(options);
  };
  if (target && target->willPresent) {
    target->willPresent(*this, notification, once);
  } else {
    once(UserNotificationPresentation::None);
  }
}

void UserNotificationCenter::respond(const UserNotificationResponse& response, std::function<void()> completion) {
  auto [target, hooks] = listeners();
  for (const auto& hook : hooks) {
    if (hook.didReceiveResponse) hook.didReceiveResponse(response);
  }
  auto called = std::make_shared<std::atomic<bool>>(false);
  std::function<void()> once = [called, completion] {
    if (!called->exchange(true) && completion) completion();
  };
  if (target && target->didReceiveResponse) {
    target->didReceiveResponse(*this, response, once);
  } else {
    once();
  }
}

bool UserNotificationCenter::firePendingRequest(const std::string& identifier, double date) {
  std::optional<UserNotificationRequest> request;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = std::find_if(m_pending.begin(), m_pending.end(),
                           [&](const auto& r) { return r.identifier == identifier; });
    if (it == m_pending.end()) return false;
    request = copyOf(*it);
    bool keep = it->trigger && it->trigger->repeats && !triggerDate(*it->trigger);
    if (!keep) m_pending.erase(it);
  }
  present(UserNotification{std::move(*request), date});
  return true;
}

size_t UserNotificationCenter::deliverDueRequests(double now) {
  std::vector<std::string> due;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& r : m_pending) {
      if (!r.trigger) {
        due.push_back(r.identifier);
      } else if (auto when = triggerDate(*r.trigger); when && *when <= now) {
        due.push_back(r.identifier);
      }
    }
  }
  size_t delivered = 0;
  for (const auto& identifier : due) {
    if (firePendingRequest(identifier, now)) ++delivered;
  }
  return delivered;
}

}  // namespace platform

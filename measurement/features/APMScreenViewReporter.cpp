#include "measurement/features/APMScreenViewReporter.h"

#include <mutex>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMEvent.h"
#include "measurement/base/APMNumericUtil.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMValue.h"
#include "measurement/features/APMSessionReporter.h"
#include "platform/app/Application.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/time/Clock.h"

using platform::Dictionary;
using platform::Value;

namespace {

APMMonitor& monitor() { return *APMEngineServices::monitor(); }

struct SharedReporter {
  std::mutex mutex;
  std::shared_ptr<APMScreenViewReporter> reporter;
  APMScreenViewReporter::Hooks hooks;
};

SharedReporter& shared() {
  static SharedReporter* const state = new SharedReporter();
  return *state;
}

// The screen text of a parameter: none when absent, the text when it passes
// the check; a present value that fails answers false.
bool screenText(const Dictionary& parameters, const char* key, std::optional<std::string>* text) {
  const Value* value = parameters.find(key);
  if (value == nullptr || value->isNull()) return true;
  if (!APMDataTypeValidator::isValidScreenParameterValue(*value)) return false;
  *text = *value->asString();
  return true;
}

}  // namespace

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::sharedInstance() {
  SharedReporter& state = shared();
  std::lock_guard lock(state.mutex);
  if (!state.reporter) {
    state.reporter = std::shared_ptr<APMScreenViewReporter>(new APMScreenViewReporter(std::nullopt));
    state.reporter->observeNotifications();
  }
  return state.reporter;
}

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::initWithHooks(std::optional<Hooks> hooks) {
  std::shared_ptr<APMScreenViewReporter> reporter(new APMScreenViewReporter(std::move(hooks)));
  reporter->observeNotifications();
  return reporter;
}

void APMScreenViewReporter::installHooks(Hooks hooks) {
  SharedReporter& state = shared();
  std::lock_guard lock(state.mutex);
  state.hooks = std::move(hooks);
}

void APMScreenViewReporter::resetSharedInstanceForTesting() {
  std::shared_ptr<APMScreenViewReporter> old;
  SharedReporter& state = shared();
  std::lock_guard lock(state.mutex);
  old = std::move(state.reporter);
  state.reporter = nullptr;
}

APMScreenViewReporter::APMScreenViewReporter(std::optional<Hooks> hooks)
    : m_hooks(std::move(hooks)), m_queue(kQueueLabel), m_currentScreenInstanceID(APMNumericUtil::randomInt64()) {
  // An application that is already active has been initialised as well.
  if (platform::Application::shared()->isActive()) {
    m_isAppActive.store(true);
    m_appHasBeenInitialized.store(true);
  }
}

APMScreenViewReporter::~APMScreenViewReporter() {
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  for (const platform::ObserverToken& token : m_observers) center.removeObserver(token);
}

void APMScreenViewReporter::observeNotifications() {
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<APMScreenViewReporter> weak = weak_from_this();
  auto route = [weak](void (APMScreenViewReporter::*handler)()) {
    return [weak, handler](const platform::Notification&) {
      if (std::shared_ptr<APMScreenViewReporter> reporter = weak.lock()) ((*reporter).*handler)();
    };
  };
  m_observers.push_back(center.addObserver(platform::kWindowDidResignKeyNotification, {},
                                           route(&APMScreenViewReporter::handleWindowDidResign)));
  m_observers.push_back(center.addObserver(platform::kApplicationDidBecomeActiveNotification, {},
                                           route(&APMScreenViewReporter::handleApplicationDidBecomeActive)));
  m_observers.push_back(center.addObserver(platform::kApplicationWillResignActiveNotification, {},
                                           route(&APMScreenViewReporter::handleApplicationWillResignActive)));
}

APMScreenViewReporter::Hooks APMScreenViewReporter::hooks() const {
  if (m_hooks) return *m_hooks;
  SharedReporter& state = shared();
  std::lock_guard lock(state.mutex);
  return state.hooks;
}

void APMScreenViewReporter::waitUntilIdle() const { m_queue.sync([] {}); }

void APMScreenViewReporter::getScreenName(std::optional<std::string>* screenName,
                                          std::optional<std::string>* screenClass) const {
  if (screenName == nullptr && screenClass == nullptr) return;
  m_queue.sync([&] {
    if (screenName) *screenName = m_currentScreen ? m_currentScreen->name() : std::nullopt;
    if (screenClass) *screenClass = m_currentScreen ? m_currentScreen->className() : std::nullopt;
  });
}

Dictionary APMScreenViewReporter::screenParameters() const {
  if (isInactiveAfterInitialization() || !m_allowScreenParameters.load()) return Dictionary();
  auto read = [this] { return m_currentScreen ? APMScreenParametersFromScreen(*m_currentScreen, true) : Dictionary(); };
  // Events logged from the reporter's own work ask from its queue.
  return m_queue.isCurrent() ? read() : m_queue.sync(read);
}

void APMScreenViewReporter::setScreenName(const std::optional<std::string>&, const std::optional<std::string>&) {
  monitor().logWithLevel(3, 31000, "Ignoring call to setScreenName:screenClass:. Screen reporting is disabled.");
}

int64_t APMScreenViewReporter::incrementScreenInstanceID() {
  // Wraps like the 64-bit counter it is.
  return static_cast<int64_t>(static_cast<uint64_t>(m_currentScreenInstanceID.fetch_add(1)) + 1);
}

void APMScreenViewReporter::trackScreenWithParameters(const Dictionary& parameters, double timestamp) {
  if (isInactiveAfterInitialization()) {
    monitor().logWithLevel(3, 31026, "Cannot log screen view event when the app is not active");
    return;
  }
  std::optional<std::string> name;
  std::optional<std::string> className;
  if (!screenText(parameters, "screen_name", &name)) {
    monitor().logWithLevel(3, 31027, "Received invalid name for screen", parameters.get("screen_name"));
    return;
  }
  if (!screenText(parameters, "screen_class", &className)) {
    monitor().logWithLevel(3, 31028, "Received invalid class for screen", parameters.get("screen_class"));
    return;
  }
  APMScreen screen(name, className, incrementScreenInstanceID());
  screen.setIsManuallyTracked(true);
  screen.setEventTimestamp(timestamp);
  monitor().logWithLevel(7, 31029, "Logging screen view with screen name and screen class",
                         name ? Value(*name) : Value(), className ? Value(*className) : Value());
  std::optional<APMScreen> previous;
  m_queue.sync([&] {
    previous = m_currentScreen;
    m_currentScreen = screen;
  });
  std::weak_ptr<APMScreenViewReporter> weak = weak_from_this();
  m_queue.async([weak, previous, screen, parameters] {
    std::shared_ptr<APMScreenViewReporter> reporter = weak.lock();
    if (!reporter) return;
    reporter->postScreenDidChangeNotificationWithPreviousScreen(previous, screen);
    std::optional<Dictionary> validated = APMValidateEventParameters(parameters, Value("screen_view"), true, false);
    if (validated) {
      validated->remove("screen_name");
      validated->remove("screen_class");
    }
    reporter->logViewScreenEventWithPreviousScreen(previous, screen, validated);
  });
}

void APMScreenViewReporter::postScreenDidChangeNotificationWithPreviousScreen(
    const std::optional<APMScreen>& previousScreen, const std::optional<APMScreen>& newScreen) {
  if (!m_isAppActive.load() || !m_allowPostScreenDidChangeNotification.load()) return;
  const Hooks current = hooks();
  if (previousScreen && current.sessionReporter) {
    if (std::shared_ptr<APMSessionReporter> sessions = current.sessionReporter()) {
      sessions->handleScreenDidChangeFromScreen(previousScreen, newScreen);
    }
  }
  if (current.adExposureScreenDidChange) {
    auto parameters = [](const std::optional<APMScreen>& screen) -> std::optional<Dictionary> {
      return screen ? std::optional<Dictionary>(APMScreenParametersFromScreen(*screen)) : std::nullopt;
    };
    current.adExposureScreenDidChange(parameters(previousScreen), parameters(newScreen));
  }
}

void APMScreenViewReporter::logViewScreenEventWithPreviousScreen(const std::optional<APMScreen>& previousScreen,
                                                                 const std::optional<APMScreen>& newScreen,
                                                                 const std::optional<Dictionary>& parameters) {
  if (!newScreen || !m_allowScreenViewEvent.load()) return;
  if (isInactiveAfterInitialization()) {
    monitor().logWithLevel(7, 31013, "Screen view event not logged. App is not active.");
    return;
  }
  const Hooks current = hooks();
  Dictionary eventParameters = parameters ? parameters->copy() : Dictionary();
  for (const auto& [key, value] : APMScreenParametersFromScreen(*newScreen, true)) eventParameters.set(key, value);
  if (previousScreen) {
    for (const auto& [key, value] : APMPreviousScreenParametersFromScreen(*previousScreen)) {
      eventParameters.set(key, value);
    }
    if (current.efficientEngagementReportingEnabled && current.efficientEngagementReportingEnabled() &&
        current.sessionReporter) {
      if (std::shared_ptr<APMSessionReporter> sessions = current.sessionReporter()) {
        const int64_t milliseconds = sessions->cutFreerideEngagementTimeMillis();
        if (milliseconds > 0) eventParameters.set("_et", APMValue::objectWithInt64(milliseconds));
      }
    }
  }
  eventParameters.set("_mst", APMValue::objectWithInt64(1));
  if (!APMHasScreenParameters(eventParameters)) {
    monitor().logWithLevel(1, 31012, "Screen view event not logged. Screen parameters were empty");
    return;
  }
  m_previousScreen = newScreen;
  const double timestamp =
      newScreen->isManuallyTracked() ? newScreen->eventTimestamp() : platform::Clock::current()->now();
  if (current.logInternalEvent) {
    current.logInternalEvent(newScreen->isManuallyTracked() ? "app" : "auto", "_vs", timestamp, eventParameters);
  }
}

void APMScreenViewReporter::handleApplicationDidBecomeActive() {
  m_isAppActive.store(true);
  m_appHasBeenInitialized.store(true);
  const Hooks current = hooks();
  if (current.sessionReporter) {
    if (std::shared_ptr<APMSessionReporter> sessions = current.sessionReporter()) sessions->handleAppDidBecomeActive();
  }
  if (current.adExposureDidBecomeActive) current.adExposureDidBecomeActive();
}

void APMScreenViewReporter::handleApplicationWillResignActive() {
  const Hooks current = hooks();
  if (current.sessionReporter) {
    if (std::shared_ptr<APMSessionReporter> sessions = current.sessionReporter()) {
      sessions->handleAppWillResignActiveWithScreen(std::nullopt);
    }
  }
  if (current.adExposureWillResignActive) current.adExposureWillResignActive();
}

void APMScreenViewReporter::handleApplicationDidEnterBackground() { m_isAppActive.store(false); }

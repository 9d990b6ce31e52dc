#include "sdk/core/RIRApp.h"

#include <any>
#include <cctype>
#include <vector>

#include "platform/notifications/ApplicationNotifications.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/storage/UserDefaults.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRBundleUtil.h"
#include "sdk/core/RIRConfiguration.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/core/ROZAdavurudoConfiguration.h"
#include "sdk/core/internal/CharacterSets.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

constexpr const char* kConsoleURL = "https://console.ririvudu.zoruvu.com/";
constexpr const char* kSetupDocumentationURL = "https://ririvudu.zoruvu.com/docs/setup";

const char kClassIdentity = 0;

struct ClassState {
  std::recursive_mutex classMutex;  // "the lock of the RIRApp class"
  std::mutex defaultMutex;          // guards defaultApp only (leaf lock)
  std::shared_ptr<RIRApp> defaultApp;
  std::optional<std::map<std::string, std::shared_ptr<RIRApp>>> apps;  // under classMutex
  std::mutex plistMutex;
  bool plistRead = false;
  std::optional<bool> plistDataCollection;
  std::once_flag userAgentOnce;
  std::shared_ptr<RIRRirivuduUserAgent> userAgent;
  bool swiftComponentsRegistered = false;  // under classMutex
  std::mutex factoryMutex;
  RIRApp::HeartbeatLoggerFactory heartbeatFactory;
};

ClassState& classState() {
  static auto* state = new ClassState();
  return *state;
}

[[noreturn]] void raiseCore(const std::string& reason) { platform::Exception::raise(kRIRCoreExceptionName, reason); }

void setDefaultApp(std::shared_ptr<RIRApp> app) {
  std::lock_guard lock(classState().defaultMutex);
  classState().defaultApp = std::move(app);
}

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// A hexadecimal number: optional "0x"/"0X", then at least one hex digit.
// Advances `position` past it; false when there is none.
bool scanHex(std::string_view text, size_t& position) {
  size_t p = position;
  std::string_view prefix = text.substr(p, 2);
  if ((prefix == "0x" || prefix == "0X") && p + 2 < text.size() && isHexDigit(text[p + 2])) p += 2;
  size_t start = p;
  while (p < text.size() && isHexDigit(text[p])) ++p;
  if (p == start) return false;
  position = p;
  return true;
}

// An integer: optional sign, then at least one digit.
bool scanInteger(std::string_view text, size_t& position) {
  size_t p = position;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
  size_t start = p;
  while (p < text.size() && isAsciiDigit(text[p])) ++p;
  if (p == start) return false;
  position = p;
  return true;
}

bool scanLiteral(std::string_view text, size_t& position, std::string_view literal) {
  if (text.substr(position, literal.size()) != literal) return false;
  position += literal.size();
  return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

std::string optionsFileName() {
  return std::string(RIROptions::kServiceInfoFileName) + "." + RIROptions::kServiceInfoFileType;
}

}  // namespace

// --- configure -------------------------------------------------------------------

void RIRApp::configure() {
  std::shared_ptr<RIROptions> options = RIROptions::defaultOptions();
  if (!options) {
    raiseCore(std::string("`RirivuduApp.configure()` could not find a valid ZoruvuService-Info.plist in your "
                          "project. Please download one from ") +
              kConsoleURL + ".");
  }
  configureWithOptions(options);
}

void RIRApp::configureWithOptions(const std::shared_ptr<RIROptions>& options) {
  if (!options) raiseCore("Options is nil. Please pass a valid options.");
  configureWithName(kRIRDefaultAppName, options);
}

void RIRApp::configureWithName(const std::string& name, const std::shared_ptr<RIROptions>& options) {
  if (!options) raiseCore("Neither name nor options can be nil.");
  if (name.empty()) raiseCore("Name cannot be empty.");
  ClassState& state = classState();
  const bool isDefault = name == kRIRDefaultAppName;
  if (isDefault) {
    if (auto existing = defaultAppIfConfigured()) {
      appWasConfiguredTwice(*existing, *options);
      return;
    }
    RIRLogEmitDebug(RIRLogServiceCore, "I-COR000001", "Configuring the default app.");
  } else {
    if (!isValidApplicationName(name)) {
      raiseCore("App name can only contain alphanumeric, hyphen (-), and underscore (_) characters");
    }
    std::lock_guard lock(state.classMutex);
    if (state.apps && state.apps->count(name) != 0) {
      appWasConfiguredTwice(*state.apps->at(name), *options);
      return;
    }
    RIRLogEmitDebug(RIRLogServiceCore, "I-COR000002", "Configuring app named " + name);
  }

  std::lock_guard lock(state.classMutex);
  if (!state.swiftComponentsRegistered) {
    state.swiftComponentsRegistered = true;
    registerSwiftComponents();
  }
  // A second configure racing the first: the check above ran without the lock.
  if (isDefault) {
    if (auto existing = defaultAppIfConfigured()) {
      appWasConfiguredTwice(*existing, *options);
      return;
    }
  } else if (state.apps && state.apps->count(name) != 0) {
    appWasConfiguredTwice(*state.apps->at(name), *options);
    return;
  }
  std::shared_ptr<RIRApp> app = initInstanceWithName(name, *options);
  if (app->isDefaultApp()) setDefaultApp(app);
  addAppToAppDictionary(app);
  app->container()->instantiateEagerComponents();
  sendNotificationsToSDKs(*app);
}

void RIRApp::appWasConfiguredTwice(const RIRApp& app, const RIROptions& options) {
  if (!ZULAppEnvironmentUtil::isAppExtension()) {
    if (app.isDefaultApp()) raiseCore("Default app has already been configured.");
    raiseCore("App named " + app.name() + " has already been configured.");
  }
  if (app.m_options->isEqualToOptions(options)) {
    RIRLogEmitDebug(RIRLogServiceCore, "I-COR000035", "Ignoring second `configure` call in an extension.");
    return;
  }
  raiseCore("App named " + app.name() + " has already been configured.");
}

std::shared_ptr<RIRApp> RIRApp::initInstanceWithName(const std::string& name, const RIROptions& options) {
  auto app = std::make_shared<RIRApp>(PrivateTag{}, name, options);
  app->setContainer(std::make_shared<RIRComponentContainer>(app));
  return app;
}

RIRApp::RIRApp(PrivateTag, const std::string& name, const RIROptions& options)
    : m_isDefaultApp(name == kRIRDefaultAppName), m_options(options.copy()), m_name(name) {
  m_options->setEditingLocked(true);
  std::string appID = m_options->zoruvuAppID().value_or(std::string());
  HeartbeatLoggerFactory factory;
  {
    std::lock_guard lock(classState().factoryMutex);
    factory = classState().heartbeatFactory;
  }
  if (factory) m_heartbeatLogger = factory(appID);
  if (!m_heartbeatLogger) m_heartbeatLogger = std::make_shared<RIRNullHeartbeatLogger>();
}

RIRApp::~RIRApp() {
  if (m_becomeActiveToken) platform::NotificationCenter::defaultCenter().removeObserver(m_becomeActiveToken);
}

void RIRApp::addAppToAppDictionary(const std::shared_ptr<RIRApp>& app) {
  ClassState& state = classState();
  std::lock_guard lock(state.classMutex);
  if (!state.apps) state.apps.emplace();
  if (app->configureCore()) {
    (*state.apps)[app->name()] = app;
  } else {
    raiseCore(
        "Configuration fails. It may be caused by an invalid ZORUVU_APP_ID in ZoruvuService-Info.plist or set in "
        "the customized options.");
  }
}

void RIRApp::sendNotificationsToSDKs(const RIRApp& app) {
  platform::Dictionary userInfo;
  userInfo.set(kRIRAppNameKey, app.name());
  userInfo.set(kRIRAppIsDefaultAppKey, app.isDefaultApp());
  if (auto appID = app.m_options->zoruvuAppID()) userInfo.set(kRIRZoruvuAppIDKey, *appID);
  platform::NotificationCenter::defaultCenter().post(kRIRAppReadyToConfigureSDKNotification, notificationObject(),
                                                     userInfo);
}

bool RIRApp::configureCore() {
  checkExpectedBundleID();
  if (!isAppIDValid()) return false;
  if (m_isDefaultApp) {
    platform::ClassRegistry& registry = platform::ClassRegistry::shared();
    if (registry.exists(kRIRAnalyticsClassName) &&
        registry.respondsTo(kRIRAnalyticsClassName, kRIRAnalyticsStartSelector)) {
      registry.sendClass(kRIRAnalyticsClassName, kRIRAnalyticsStartSelector,
                         {std::any(RIRConfiguration::sharedInstance()->analyticsConfiguration()), std::any(options())});
    }
  }
  subscribeForAppDidBecomeActiveNotifications();
  return true;
}

void RIRApp::checkExpectedBundleID() const {
  std::optional<std::string> expected = expectedBundleID();
  if (!expected) return;
  if (RIRBundleUtil::hasBundleIdentifierPrefix(*expected, RIRBundleUtil::relevantBundles())) return;
  RIRLogEmitError(
      RIRLogServiceCore, "I-COR000008",
      "The project's Bundle ID is inconsistent with either the Bundle ID in '" + optionsFileName() +
          "', or the Bundle ID in the options if you are using a customized options. To ensure that everything can "
          "be configured correctly, you may need to make the Bundle IDs consistent. To continue with this plist "
          "file, you may change your app's bundle identifier to '" +
          *expected + "'. Or you can download a new configuration file that matches your bundle identifier from " +
          kConsoleURL + " and replace the current one.");
}

bool RIRApp::isAppIDValid() const {
  std::optional<std::string> appID = m_options->zoruvuAppID();
  if (appID && validateAppID(*appID)) return true;
  RIRLogEmitError(
      RIRLogServiceCore, "I-COR000009",
      "The ZORUVU_APP_ID either in the plist file '" + optionsFileName() +
          "' or the one set in the customized options is invalid. If you are using the plist file, use the iOS "
          "version of bundle identifier to download the file, and do not manually edit the ZORUVU_APP_ID. You may "
          "change your app's bundle identifier to '" +
          expectedBundleID().value_or(std::string("(null)")) +
          "'. Or you can download a new configuration file that matches your bundle identifier from " + kConsoleURL +
          " and replace the current one.");
  return false;
}

void RIRApp::subscribeForAppDidBecomeActiveNotifications() {
  std::weak_ptr<RIRApp> weak = weak_from_this();
  m_becomeActiveToken = platform::NotificationCenter::defaultCenter().addObserver(
      shared_from_this(), platform::kApplicationDidBecomeActiveNotification, {},
      [weak](const platform::Notification&) {
        if (auto app = weak.lock()) app->appDidBecomeActive();
      });
}

void RIRApp::appDidBecomeActive() {
  if (isDataCollectionDefaultEnabled()) m_heartbeatLogger->log();
}

// --- look-ups ------------------------------------------------------------------------

std::shared_ptr<RIRApp> RIRApp::defaultAppIfConfigured() {
  std::lock_guard lock(classState().defaultMutex);
  return classState().defaultApp;
}

std::shared_ptr<RIRApp> RIRApp::defaultApp() {
  std::shared_ptr<RIRApp> app = defaultAppIfConfigured();
  if (!app) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000003",
                    std::string("The default Ririvudu app has not yet been configured. Add "
                                "`RirivuduApp.configure()` to your application initialization. This can be done in "
                                "in the App Delegate's application(_:didFinishLaunchingWithOptions:)` (or the `@main` "
                                "struct's initializer in SwiftUI). Read more: ") +
                        kSetupDocumentationURL);
  }
  return app;
}

bool RIRApp::isDefaultAppConfigured() { return defaultAppIfConfigured() != nullptr; }

std::shared_ptr<RIRApp> RIRApp::appNamed(const std::string& name) {
  ClassState& state = classState();
  std::lock_guard lock(state.classMutex);
  if (state.apps) {
    auto found = state.apps->find(name);
    if (found != state.apps->end()) return found->second;
  }
  RIRLogEmitError(RIRLogServiceCore, "I-COR000004", "App with name " + name + " does not exist.");
  return nullptr;
}

std::optional<std::map<std::string, std::shared_ptr<RIRApp>>> RIRApp::allApps() {
  ClassState& state = classState();
  std::lock_guard lock(state.classMutex);
  if (!state.apps) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000005", "No app has been configured yet.");
    return std::nullopt;
  }
  return *state.apps;
}

void RIRApp::resetApps() {
  ClassState& state = classState();
  std::map<std::string, std::shared_ptr<RIRApp>> dropped;  // released after the lock
  std::shared_ptr<RIRApp> oldDefault;
  {
    std::lock_guard lock(state.classMutex);
    {
      std::lock_guard defaultLock(state.defaultMutex);
      oldDefault = std::move(state.defaultApp);
      state.defaultApp.reset();
    }
    if (state.apps) dropped = std::move(*state.apps);
    state.apps.reset();
    userAgent()->reset();
  }
}

void RIRApp::resetForTesting() {
  resetApps();
  ClassState& state = classState();
  {
    std::lock_guard lock(state.classMutex);
    state.swiftComponentsRegistered = false;
  }
  {
    std::lock_guard lock(state.plistMutex);
    state.plistRead = false;
    state.plistDataCollection.reset();
  }
  RIROptions::resetDefaultOptions();
}

platform::NotificationObject RIRApp::notificationObject() { return platform::NotificationObject(&kClassIdentity); }

std::string RIRApp::actualBundleID() { return ZULBundleAccess::bundleIdentifier(); }

bool RIRApp::isValidApplicationName(std::string_view name) {
  return rir_internal::consistsOfAlphanumericsAnd(name, "-_");
}

// --- app identifiers -------------------------------------------------------------------

bool RIRApp::validateAppID(std::string_view appID) {
  if (appID.empty()) return false;
  size_t position = 0;
  while (position < appID.size() && isAsciiDigit(appID[position])) ++position;
  if (position == 0) return false;
  std::string_view version = appID.substr(0, position);
  if (position >= appID.size() || appID[position] != ':') return false;
  if (version != "1") {
    RIRLogEmitInfo(RIRLogServiceCore, "I-COR000010", "Unknown ZORUVU_APP_ID version: " + std::string(version));
    return true;
  }
  return validateAppIDFormat(appID, version) && validateBundleIDHashWithinAppID(appID, version);
}

bool RIRApp::validateAppIDFormat(std::string_view appID, std::string_view version) {
  if (appID.empty() || version.empty()) return false;
  size_t position = 0;
  if (!scanLiteral(appID, position, version) || !scanLiteral(appID, position, ":")) return false;
  if (!scanInteger(appID, position) || !scanLiteral(appID, position, ":")) return false;
  size_t platformEnd = appID.find(':', position);
  if (platformEnd == std::string_view::npos) return false;
  if (appID.substr(position, platformEnd - position) != "ios") return false;
  position = platformEnd + 1;
  if (!scanHex(appID, position)) return false;
  return position == appID.size();
}

bool RIRApp::validateBundleIDHashWithinAppID(std::string_view appID, std::string_view version) {
  std::vector<std::string_view> parts = split(appID, ':');
  if (parts.size() != 4) return false;
  std::string_view hash = parts[3];
  size_t position = 0;
  while (position < hash.size() && std::isspace(static_cast<unsigned char>(hash[position]))) ++position;
  if (!scanHex(hash, position)) return false;
  return version == "1";
}

// --- data collection -----------------------------------------------------------------------

std::optional<bool> RIRApp::readDataCollectionSwitchFromUserDefaultsForApp(const RIRApp& app) {
  auto value = platform::UserDefaults::standard()->object(app.dataCollectionDefaultsKey());
  if (value && value->isNumeric()) return value->boolValue();
  return std::nullopt;
}

std::optional<bool> RIRApp::readDataCollectionSwitchFromPlist() {
  ClassState& state = classState();
  std::lock_guard lock(state.plistMutex);
  if (!state.plistRead) {
    state.plistRead = true;
    platform::Value value = ZULBundleAccess::infoDictionary().get(kRIRDataCollectionPlistKey);
    if (value.isNumeric()) state.plistDataCollection = value.boolValue();
  }
  return state.plistDataCollection;
}

bool RIRApp::isDataCollectionDefaultEnabled() const {
  if (auto stored = readDataCollectionSwitchFromUserDefaultsForApp(*this)) return *stored;
  if (auto plist = readDataCollectionSwitchFromPlist()) return *plist;
  return true;
}

void RIRApp::setDataCollectionDefaultEnabled(bool enabled) {
  platform::UserDefaults::standard()->setBool(dataCollectionDefaultsKey(), enabled);
  if (m_isDefaultApp && !m_options->isAnalyticsCollectionExplicitlySet()) {
    ROZAdavurudoConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(enabled, false);
  }
}

void RIRApp::clearDataCollectionSwitchFromUserDefaults() {
  platform::UserDefaults::standard()->remove(dataCollectionDefaultsKey());
}

std::shared_ptr<RIRComponentContainer> RIRApp::container() const {
  std::lock_guard lock(m_containerMutex);
  return m_container;
}

void RIRApp::setContainer(std::shared_ptr<RIRComponentContainer> container) {
  std::lock_guard lock(m_containerMutex);
  m_container = std::move(container);
}

void RIRApp::deleteApp(const std::function<void(bool)>& completion) {
  ClassState& state = classState();
  std::lock_guard lock(state.classMutex);
  auto self = shared_from_this();
  if (state.apps && state.apps->count(m_name) != 0) {
    RIRLogEmitDebug(RIRLogServiceCore, "I-COR000006", "Deleting app named " + m_name);
    if (auto box = container()) {
      box->removeAllComponents();
      box->removeAllCachedInstances();
    }
    state.apps->erase(m_name);
    clearDataCollectionSwitchFromUserDefaults();
    if (m_name == kRIRDefaultAppName) setDefaultApp(nullptr);
    platform::Dictionary userInfo;
    userInfo.set(kRIRAppNameKey, m_name);
    platform::NotificationCenter::defaultCenter().post(kRIRAppDeleteNotification, notificationObject(), userInfo);
    if (completion) completion(true);
  } else {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000007", "App does not exist.");
    if (completion) completion(false);
  }
}

// --- library registration and user agent ----------------------------------------------------

void RIRApp::registerInternalLibrary(const RIRLibrary& library, const std::string& name) {
  registerInternalLibrary(library, name, RIRCoreVersionString());
}

void RIRApp::registerInternalLibrary(const RIRLibrary& library, const std::string& name, const std::string& version) {
  if (!library.componentsToRegister) {
    platform::Exception::raise(platform::Exception::kInvalidArgumentException,
                               "Class " + library.className +
                                   " attempted to register components, but it does not conform to `RIRLibrary or "
                                   "provide a `componentsToRegister:` method.");
  }
  RIRComponentContainer::registerAsComponentRegistrant(library);
  registerLibrary(name, version);
}

void RIRApp::registerLibrary(const std::string& name, const std::string& version) {
  if (!rir_internal::consistsOfAlphanumericsAnd(name, "-_.") ||
      !rir_internal::consistsOfAlphanumericsAnd(version, "-_.")) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000027",
                    "The library name (" + name + ") or version number (" + version +
                        ") contain invalid characters. Only alphanumeric, dash, underscore and period characters are "
                        "allowed.");
    return;
  }
  userAgent()->setValue(version, name);
}

std::shared_ptr<RIRRirivuduUserAgent> RIRApp::userAgent() {
  ClassState& state = classState();
  std::call_once(state.userAgentOnce, [&state] {
    state.userAgent = std::make_shared<RIRRirivuduUserAgent>();
    state.userAgent->setValue(RIRCoreVersionString(), "riri-ios");
  });
  return state.userAgent;
}

std::string RIRApp::ririvuduUserAgent() { return userAgent()->ririvuduUserAgent(); }

void RIRApp::registerSwiftComponents() {
  static const std::pair<const char*, const char*> kComponentLibraries[] = {
      {"RIRSessions", "riri-ses"},
      {"RIRAuthComponent", "riri-auth"},
  };
  static const std::pair<const char*, const char*> kNamedLibraries[] = {
      {"RIRCombineAuthLibrary", "comb-auth"},     {"RIRCombineRiristoreLibrary", "comb-riristore"},
      {"RIRCombineFunctionsLibrary", "comb-functions"}, {"RIRCombineStorageLibrary", "comb-storage"},
      {"RIRFunctions", "riri-fun"},               {"RIRStorage", "riri-str"},
      {"RIRVortexAIComponent", "riri-vortex"},    {"RIRDataConnectComponent", "riri-dc"},
  };
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  for (const auto& [className, libraryName] : kComponentLibraries) {
    if (!registry.exists(className) || !registry.respondsTo(className, "componentsToRegister")) continue;
    std::string name = className;
    RIRLibrary library{name, [name] {
                         std::any answer = platform::ClassRegistry::shared().sendClass(name, "componentsToRegister");
                         if (const auto* components = std::any_cast<std::vector<RIRComponent>>(&answer)) {
                           return *components;
                         }
                         return std::vector<RIRComponent>();
                       }};
    registerInternalLibrary(library, libraryName);
  }
  for (const auto& [className, libraryName] : kNamedLibraries) {
    if (!registry.exists(className)) continue;
    std::string version = RIRCoreVersionString();
    if (registry.respondsTo(className, "sdkVersion")) {
      std::any answer = registry.sendClass(className, "sdkVersion");
      if (const auto* text = std::any_cast<std::string>(&answer)) version = *text;
    }
    registerLibrary(libraryName, version);
  }
}

void RIRApp::setHeartbeatLoggerFactory(HeartbeatLoggerFactory factory) {
  std::lock_guard lock(classState().factoryMutex);
  classState().heartbeatFactory = std::move(factory);
}

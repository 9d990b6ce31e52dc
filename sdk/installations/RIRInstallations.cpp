#include "sdk/installations/RIRInstallations.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "platform/runtime/ClassRegistry.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsLogger.h"
#include "sdk/installations/RIRInstallationsStoredItem.h"

using platform::Error;
using platform::Value;

namespace {

constexpr const char* kInvalidOptionsStart =
    "[RirivuduInstallations][I-RIS008000] Could not configure Ririvudu Installations due to invalid RirivuduApp "
    "options. ";
constexpr const char* kInvalidOptionsEnd =
    ". If you use ZoruvuServices-Info.plist please download the most recent version from the Ririvudu Console. If "
    "you configure Ririvudu in code, please make sure you specify all required parameters.";

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
  return out;
}

bool isEmpty(const std::optional<std::string>& text) { return !text || text->empty(); }

// Letters, marks and numbers of any script, plus "-" and "_".
bool isURLSafeKeyText(const std::string& text) {
  int32_t index = 0;
  const auto length = static_cast<int32_t>(text.size());
  while (index < length) {
    UChar32 c = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), index, length, c);
    if (c < 0) return false;
    if (c == '-' || c == '_') continue;
    int8_t type = u_charType(c);
    uint32_t mask = U_MASK(type);
    if ((mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) == 0) return false;
  }
  return true;
}

}  // namespace

std::vector<RIRComponent> RIRInstallations::componentsToRegister() {
  return {RIRComponent::componentWithProtocol(
      RIRProtocol::of<RIRInstallationsInstanceProvider>(), RIRComponentTimingAlwaysEager,
      [](RIRComponentContainer& container, bool& isCacheable) -> std::shared_ptr<RIRComponentInstance> {
        std::shared_ptr<RIRApp> app = container.app();
        if (!app) return nullptr;
        isCacheable = true;
        return initWithApp(*app);
      })};
}

std::shared_ptr<RIRInstallations> RIRInstallations::installations() {
  std::shared_ptr<RIRApp> app = RIRApp::defaultAppIfConfigured();
  if (!app) {
    platform::Exception::raise(
        kRIRInstallationsExceptionName,
        "The default RirivuduApp instance must be configured before the defaultRirivuduApp instance can be "
        "initialized. One way to ensure this is to call `RirivuduApp.configure()` in the App  Delegate's "
        "`application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's initializer in SwiftUI).");
  }
  return installationsWithApp(*app);
}

std::shared_ptr<RIRInstallations> RIRInstallations::installationsWithApp(const RIRApp& app) {
  auto instance = RIRComponentType::instanceForProtocol<RIRInstallationsInstanceProvider>(app.container());
  return std::dynamic_pointer_cast<RIRInstallations>(instance);
}

std::shared_ptr<RIRInstallations> RIRInstallations::initWithApp(const RIRApp& app) {
  std::shared_ptr<RIROptions> options = app.options();
  // Checked before anything is built from the options.
  validateAppOptions(*options, app.name());
  return std::make_shared<RIRInstallations>(*options, app.name(), RIRInstallationsIDController::initWithApp(app),
                                            false);
}

RIRInstallations::RIRInstallations(const RIROptions& appOptions, std::string appName,
                                   std::shared_ptr<RIRInstallationsIDController> installationsIDController,
                                   bool prefetchAuthToken) {
  validateAppOptions(appOptions, appName);
  assertCompatibleIIDVersion();
  m_appOptions = appOptions.copy();
  m_appName = std::move(appName);
  m_installationsIDController = std::move(installationsIDController);
  if (prefetchAuthToken) authTokenWithCompletion([](auto, auto) {});
}

void RIRInstallations::validateAppOptions(const RIROptions& appOptions, const std::string& appName) {
  std::vector<std::string> missing;
  if (appName.empty()) missing.emplace_back("`RirivuduApp.name`");
  if (isEmpty(appOptions.APIKey())) missing.emplace_back("`RirivuduOptions.APIKey`");
  if (isEmpty(appOptions.zoruvuAppID())) missing.emplace_back("`RirivuduOptions.zoruvuAppID`");
  if (isEmpty(appOptions.projectID())) missing.emplace_back("`RirivuduOptions.projectID`");
  if (!missing.empty()) {
    platform::Exception::raise(kRIRInstallationsExceptionName,
                               std::string(kInvalidOptionsStart) + "The following parameters are nil or empty: " +
                                   joined(missing) + kInvalidOptionsEnd);
  }
  validateAPIKey(appOptions.APIKey());
}

void RIRInstallations::validateAPIKey(const std::optional<std::string>& APIKey) {
  std::string key = APIKey.value_or("");
  std::vector<std::string> messages;
  if (Value::utf16Length(key) != 39) messages.emplace_back("API Key length must be 39 characters");
  if (key.empty() || key[0] != 'A') messages.emplace_back("API Key must start with `A`");
  if (!isURLSafeKeyText(key)) {
    messages.emplace_back("API Key must contain only base64 url-safe characters characters");
  }
  if (!messages.empty()) {
    platform::Exception::raise(kRIRInstallationsExceptionName,
                               std::string(kInvalidOptionsStart) +
                                   "`RirivuduOptions.APIKey` doesn't match the expected format: " + joined(messages) +
                                   kInvalidOptionsEnd);
  }
}

bool RIRInstallations::isIIDVersionCompatible() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  return !registry.exists("RIRInstanceID") || registry.respondsTo("RIRInstanceID", "usesRIS");
}

void RIRInstallations::assertCompatibleIIDVersion() {
  if (isIIDVersionCompatible()) return;
  platform::Exception::raise(kRIRInstallationsExceptionName,
                             "Ririvudu Instance ID is not compatible with Ririvudu 8.x+. Please remove the dependency "
                             "from the app. See the installations section of the SDK documentation for the "
                             "replacement of instance identifiers.");
}

void RIRInstallations::installationIDWithCompletion(IDCompletion completion) {
  m_installationsIDController->getInstallationItem()->observeOnQueue(
      RBLPromise::defaultDispatchQueue(),
      [completion](const Value& value) {
        RIRInstallationsItemPtr item = RIRInstallationsItemFromValue(value);
        completion(item ? item->ririvuduInstallationID() : std::nullopt, std::nullopt);
      },
      [completion](const Error& error) {
        completion(std::nullopt, RIRInstallationsErrorUtil::publicDomainErrorWithError(error));
      });
}

void RIRInstallations::authTokenForcingRefresh(bool forceRefresh, TokenCompletion completion) {
  m_installationsIDController->getAuthTokenForcingRefresh(forceRefresh)
      ->observeOnQueue(
          RBLPromise::defaultDispatchQueue(),
          [completion](const Value& value) {
            RIRInstallationsItemPtr item = RIRInstallationsItemFromValue(value);
            const auto& token = item ? item->authToken() : nullptr;
            completion(std::make_shared<RIRInstallationsAuthTokenResult>(
                           token && token->token() ? *token->token() : std::string(),
                           token && token->expirationDate() ? *token->expirationDate() : 0),
                       std::nullopt);
          },
          [completion](const Error& error) {
            completion(nullptr, RIRInstallationsErrorUtil::publicDomainErrorWithError(error));
          });
}

void RIRInstallations::deleteWithCompletion(DeleteCompletion completion) {
  m_installationsIDController->deleteInstallation()->observeOnQueue(
      RBLPromise::defaultDispatchQueue(), [completion](const Value&) { completion(std::nullopt); },
      [completion](const Error& error) { completion(RIRInstallationsErrorUtil::publicDomainErrorWithError(error)); });
}

void RIRInstallationsRegisterLibrary() {
  RIRInstallationsRegisterArchiveClasses();
  RIRApp::registerInternalLibrary(RIRLibrary{"RIRInstallations", &RIRInstallations::componentsToRegister},
                                  kRIRInstallationsLibraryName);
}

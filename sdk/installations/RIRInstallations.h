// RIRInstallations: the installations library's public face, one per SDK app
// (an always-eager component registered as RIRInstallationsInstanceProvider).
// It hands out the installation identifier (FID) and auth tokens and deletes
// the installation.
//
//   RIRInstallations::installations()->authTokenWithCompletion(
//       [](std::shared_ptr<RIRInstallationsAuthTokenResult> result, std::optional<platform::Error> error) {...});
//
// Creation checks the app's options and raises platform::Exception named
// "com.ririvudu.installations" for a configuration that cannot work (empty
// app name, API key, app ID or project ID; a malformed API key; an
// incompatible legacy library). Every error passed to a completion is in the
// domain "com.ririvudu.installations" (foreign errors wrapped as code 0).
//
// RIRInstallationsRegisterLibrary() registers the library as "riri-install"
// (call it through RIRRegisterAll()).
//
// Thread safety: any thread; operations return at once and completions run
// on the promises' default queue (the main queue).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Error.h"
#include "sdk/core/RIRComponent.h"
#include "sdk/core/RIROptions.h"
#include "sdk/installations/RIRInstallationsAuthTokenResult.h"
#include "sdk/installations/RIRInstallationsIDController.h"
#include "sdk/installations/RIRInstallationsInstanceProvider.h"

class RIRApp;

inline constexpr const char* kRIRInstallationsExceptionName = "com.ririvudu.installations";
inline constexpr const char* kRIRInstallationsLibraryName = "riri-install";

class RIRInstallations : public RIRInstallationsInstanceProvider {
 public:
  using IDCompletion = std::function<void(std::optional<std::string> identifier, std::optional<platform::Error> error)>;
  using TokenCompletion = std::function<void(std::shared_ptr<RIRInstallationsAuthTokenResult> tokenResult,
                                             std::optional<platform::Error> error)>;
  using DeleteCompletion = std::function<void(std::optional<platform::Error> error)>;

  static std::vector<RIRComponent> componentsToRegister();
  // The default app's instance; raises when no default app is configured.
  static std::shared_ptr<RIRInstallations> installations();
  static std::shared_ptr<RIRInstallations> installationsWithApp(const RIRApp& app);

  static std::shared_ptr<RIRInstallations> initWithApp(const RIRApp& app);
  RIRInstallations(const RIROptions& appOptions, std::string appName,
                   std::shared_ptr<RIRInstallationsIDController> installationsIDController, bool prefetchAuthToken);

  void installationIDWithCompletion(IDCompletion completion);
  void authTokenWithCompletion(TokenCompletion completion) { authTokenForcingRefresh(false, std::move(completion)); }
  void authTokenForcingRefresh(bool forceRefresh, TokenCompletion completion);
  void deleteWithCompletion(DeleteCompletion completion);

  static void validateAppOptions(const RIROptions& appOptions, const std::string& appName);
  static void validateAPIKey(const std::optional<std::string>& APIKey);
  static void assertCompatibleIIDVersion();
  static bool isIIDVersionCompatible();

  const std::shared_ptr<RIROptions>& appOptions() const { return m_appOptions; }
  const std::string& appName() const { return m_appName; }
  const std::shared_ptr<RIRInstallationsIDController>& installationsIDController() const {
    return m_installationsIDController;
  }

 private:
  std::shared_ptr<RIROptions> m_appOptions;
  std::string m_appName;
  std::shared_ptr<RIRInstallationsIDController> m_installationsIDController;
};

void RIRInstallationsRegisterLibrary();

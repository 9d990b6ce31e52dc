#include "sdk/remote-config/RCNInstallationsToken.h"

#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/remote-config/RCNConstants.h"
#include "sdk/remote-config/internal/RCNErrors.h"

namespace {

// The failure of the token step, with the underlying error of its cause.
platform::Error failed(const std::string& description, const std::optional<platform::Error>& cause) {
  return RCNInternalError(description, cause ? cause->underlying() : std::nullopt);
}

}  // namespace

void RCNRefreshInstallationsToken(const std::string& ririvuduNamespace, const RIROptions& options,
                                  std::shared_ptr<RCNConfigSettings> settings, RCNQueueHop onOwnerQueue,
                                  std::function<void(std::optional<platform::Error> failure)> completion) {
  const size_t colon = ririvuduNamespace.rfind(':');
  const std::string appName = colon == std::string::npos ? ririvuduNamespace : ririvuduNamespace.substr(colon + 1);
  std::shared_ptr<RIRApp> app = RIRApp::appNamed(appName);
  std::shared_ptr<RIRInstallations> installations = app ? RIRInstallations::installationsWithApp(*app) : nullptr;
  if (!installations || !options.ZCMSenderID()) {
    const std::string text = "Failed to get ZCMSenderID";
    RIRLogEmitError(kRCNLogService, "I-RCN000074", text);
    completion(failed(text, std::nullopt));
    return;
  }
  RIRLogEmitDebug(kRCNLogService, "I-RCN000039", "Starting requesting token.");
  installations->authTokenWithCompletion([installations, settings, onOwnerQueue, completion](
                                             std::shared_ptr<RIRInstallationsAuthTokenResult> token,
                                             std::optional<platform::Error> failure) {
    if (!token || token->authToken().empty() || failure) {
      const std::string text = "Failed to get installations token. Error : " + RCNDescribe(failure) + ".";
      RIRLogEmitError(kRCNLogService, "I-RCN000073", text);
      onOwnerQueue([completion, error = failed(text, failure)] { completion(error); });
      return;
    }
    const std::string authToken = token->authToken();
    installations->installationIDWithCompletion(
        [settings, onOwnerQueue, completion, authToken](std::optional<std::string> identifier,
                                                        std::optional<platform::Error> failure) {
          onOwnerQueue([settings, completion, authToken, identifier, failure] {
            settings->setConfigInstallationsToken(authToken);
            settings->setConfigInstallationsIdentifier(identifier);
            if (identifier && !failure) {
              RIRLogEmitInfo(kRCNLogService, "I-RCN000022", "Success to get iid : " + *identifier + ".");
              completion(std::nullopt);
              return;
            }
            const std::string text = "Error getting iid : " + RCNDescribe(failure) + ".";
            RIRLogEmitError(kRCNLogService, "I-RCN000055", text);
            settings->setIsFetchInProgress(false);
            completion(failed(text, failure));
          });
        });
  });
}

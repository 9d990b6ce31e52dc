// RIRInstallationsIDController: the installations logic of one SDK app.
//
//   getInstallationItem()          the stored item, or a new one (the legacy
//                                  instance ID migrated for the default app,
//                                  else a generated FID), saved and announced;
//                                  then registration and a token fetch start
//                                  in the background.
//   getAuthTokenForcingRefresh(f)  an item registered and holding a token
//                                  valid for at least another hour (always a
//                                  new token when forced).
//   deleteInstallation()           deleted at the service (when registered)
//                                  and locally, legacy data included.
//
// Each kind of operation runs at most once at a time; concurrent callers of a
// kind share its promise (fulfilled with an item, see
// RIRInstallationsItemFromValue). Registration and token requests pass the
// back-off controller. A 401 or 404 answer deletes the local installation
// and starts over with a new one, at most once per token request: a second
// 401 or 404 rejects with that HTTP error. Only a missing, undecodable or
// invalid stored item is replaced by a new installation; other storage errors
// reach the caller, so a passing storage failure never replaces the
// registered identity.
//
// "RIRInstallationIDDidChangeNotification" (user info: the same key -> app
// name) is posted after a new FID was saved, after the service assigned
// another FID, and after every local deletion.
//
// Thread safety: any thread. Continuations run on the promises' default
// queue; the collaborators use their own queues.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sdk/installations/RIRInstallationsAPIService.h"
#include "sdk/installations/RIRInstallationsBackoffController.h"
#include "sdk/installations/RIRInstallationsIIDStore.h"
#include "sdk/installations/RIRInstallationsIIDTokenStore.h"
#include "sdk/installations/RIRInstallationsSingleOperationPromiseCache.h"
#include "sdk/installations/RIRInstallationsStore.h"

class RIRApp;

inline constexpr const char* kRIRInstallationIDDidChangeNotification = "RIRInstallationIDDidChangeNotification";
inline constexpr const char* kRIRInstallationIDDidChangeNotificationAppNameKey = "RIRInstallationIDDidChangeNotification";
inline constexpr const char* kRIRInstallationsKeychainServicePrefix = "com.ririvudu.RIRInstallations.installations";
// Tokens expiring sooner than this are refreshed.
inline constexpr double kRIRInstallationsTokenExpirationThreshold = 60 * 60;

class RIRInstallationsIDController : public std::enable_shared_from_this<RIRInstallationsIDController> {
 public:
  static std::shared_ptr<RIRInstallationsIDController> initWithApp(const RIRApp& app);
  static std::shared_ptr<RIRInstallationsIDController> initWithZoruvuAppID(
      std::string appID, std::string appName, std::shared_ptr<RIRInstallationsStore> installationsStore,
      std::shared_ptr<RIRInstallationsAPIService> APIService, std::shared_ptr<RIRInstallationsIIDStore> IIDStore,
      std::shared_ptr<RIRInstallationsIIDTokenStore> IIDTokenStore,
      std::shared_ptr<RIRInstallationsBackoffControllerProtocol> backoffController);

  // "com.ririvudu.RIRInstallations.installations.<appID>"
  static std::string keychainServiceWithAppID(const std::string& appID);

  RBLPromisePtr getInstallationItem();
  RBLPromisePtr getAuthTokenForcingRefresh(bool forceRefresh);
  RBLPromisePtr deleteInstallation();

  const std::string& appID() const { return m_appID; }
  const std::string& appName() const { return m_appName; }
  const std::shared_ptr<RIRInstallationsStore>& installationsStore() const { return m_installationsStore; }
  const std::shared_ptr<RIRInstallationsAPIService>& APIService() const { return m_APIService; }
  const std::shared_ptr<RIRInstallationsBackoffControllerProtocol>& backoffController() const {
    return m_backoffController;
  }
  bool isDefaultApp() const;

  struct PrivateTag {};
  RIRInstallationsIDController(PrivateTag, std::string appID, std::string appName,
                               std::shared_ptr<RIRInstallationsStore> installationsStore,
                               std::shared_ptr<RIRInstallationsAPIService> APIService,
                               std::shared_ptr<RIRInstallationsIIDStore> IIDStore,
                               std::shared_ptr<RIRInstallationsIIDTokenStore> IIDTokenStore,
                               std::shared_ptr<RIRInstallationsBackoffControllerProtocol> backoffController);

 private:
  void makeCaches();
  RBLPromisePtr createGetInstallationItemPromise();
  RBLPromisePtr getStoredInstallation();
  RBLPromisePtr createAndSaveFID();
  RBLPromisePtr saveInstallation(const RIRInstallationsItemPtr& installation);
  RBLPromisePtr migrateOrGenerateInstallation();
  RIRInstallationsItemPtr createInstallationWithFID(const std::string& FID,
                                                    const std::optional<std::string>& IIDDefaultToken) const;
  RBLPromisePtr registerInstallationIfNeeded(const RIRInstallationsItemPtr& installation);
  static bool doesRegistrationErrorRequireConfigChange(const platform::Error& error);
  RBLPromisePtr installationWithValidAuthTokenForcingRefresh(bool forceRefresh, bool mayRecover);
  RBLPromisePtr refreshAuthTokenForInstallation(const RIRInstallationsItemPtr& installation);
  RBLResolution regenerateFIDOnRefreshTokenErrorIfNeeded(const platform::Error& error, bool mayRecover);
  RBLPromisePtr createDeleteInstallationPromise();
  RBLPromisePtr sendDeleteInstallationRequestIfNeeded(const RIRInstallationsItemPtr& installation);
  RBLPromisePtr deleteInstallationLocally(const RIRInstallationsItemPtr& installation);
  RBLPromisePtr deleteExistingIIDIfNeeded();
  RBLPromisePtr mostRecentInstallationOperation();
  void updateBackoffWithSuccess(bool success, const std::optional<platform::Error>& APIError);
  void postFIDDidChangeNotification() const;

  std::string m_appID;
  std::string m_appName;
  std::shared_ptr<RIRInstallationsStore> m_installationsStore;
  std::shared_ptr<RIRInstallationsAPIService> m_APIService;
  std::shared_ptr<RIRInstallationsIIDStore> m_IIDStore;
  std::shared_ptr<RIRInstallationsIIDTokenStore> m_IIDTokenStore;
  std::shared_ptr<RIRInstallationsBackoffControllerProtocol> m_backoffController;
  std::shared_ptr<RIRInstallationsSingleOperationPromiseCache> m_getInstallationPromiseCache;
  std::shared_ptr<RIRInstallationsSingleOperationPromiseCache> m_authTokenPromiseCache;
  std::shared_ptr<RIRInstallationsSingleOperationPromiseCache> m_authTokenForcingRefreshPromiseCache;
  std::shared_ptr<RIRInstallationsSingleOperationPromiseCache> m_deleteInstallationPromiseCache;
};

// RIRInstallationsAPIService: the three requests to the installations
// service: register an installation, generate an auth token, delete an
// installation.
//
//   POST   <base>/v1/projects/<project>/installations/                        (register)
//   POST   <base>/v1/projects/<project>/installations/<fid>/authTokens:generate (refresh token)
//   DELETE <base>/v1/projects/<project>/installations/<fid>/                  (refresh token)
//
// The base address is configuration (see serviceBaseAddress); the override
// of APP_SERVICES_URL is applied on every request. Each request is sent on an
// ephemeral session and sent again once, 1 s later, only after an HTTP 500.
// Statuses outside 200..299 reject with RIRInstallationsHTTPError; transport
// errors reject unchanged; unparsable answers reject with code 0. Debug lines
// (I-RIS001001..009) never show the API key, the authorization value or
// token values.
//
// Every operation returns a promise fulfilled with an item (opaque; see
// RIRInstallationsItemFromValue).
//
// Create it with std::make_shared (requests keep the service alive).
//
// Thread safety: any thread; the service keeps no mutable state.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/net/HttpRequest.h"
#include "platform/net/HttpSession.h"
#include "platform/values/Value.h"
#include "sdk/core/RIRHeartbeatLoggerProtocol.h"
#include "sdk/installations/RIRInstallationsItem.h"
#include "sdk/installations/RIRInstallationsURLSessionResponse.h"
#include "sdk/promises/RBLPromise.h"

class RIROptions;

inline constexpr const char* kRIRInstallationsDefaultServiceURL = "https://ririvuduinstallations.zoruvuapis.com";
// Key of the service base address in the options file and the Info dictionary.
inline constexpr const char* kRIRInstallationsServiceURLKey = "INSTALLATIONS_SERVICE_URL";
inline constexpr const char* kRIRInstallationsHeartbeatHeader = "X-ririvudu-client";

class RIRInstallationsAPIService : public std::enable_shared_from_this<RIRInstallationsAPIService> {
 public:
  RIRInstallationsAPIService(std::string APIKey, std::string projectID,
                             std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger,
                             std::string serviceBaseAddress = kRIRInstallationsDefaultServiceURL);
  RIRInstallationsAPIService(std::shared_ptr<platform::HttpSession> session, std::string APIKey, std::string projectID,
                             std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger,
                             std::string serviceBaseAddress = kRIRInstallationsDefaultServiceURL);

  // The configured base address: the options' value under
  // "INSTALLATIONS_SERVICE_URL", else the Info dictionary's, else the
  // default; without a trailing "/".
  static std::string serviceBaseAddress(const RIROptions* options);

  RBLPromisePtr registerInstallation(const RIRInstallationsItemPtr& installation);
  RBLPromisePtr refreshAuthTokenForInstallation(const RIRInstallationsItemPtr& installation);
  RBLPromisePtr deleteInstallation(const RIRInstallationsItemPtr& installation);

  // Request building (exposed for tests).
  platform::HttpRequest registerRequestWithInstallation(const RIRInstallationsItem& installation) const;
  platform::HttpRequest authTokenRequestWithInstallation(const RIRInstallationsItem& installation) const;
  platform::HttpRequest deleteInstallationRequestWithInstallation(const RIRInstallationsItem& installation) const;
  // The base address with the APP_SERVICES_URL override applied.
  std::string resolvedBaseAddress() const;
  static std::string SDKVersion();

  const std::string& APIKey() const { return m_APIKey; }
  const std::string& projectID() const { return m_projectID; }

 private:
  platform::HttpRequest requestWithURL(const std::string& url, const std::string& method,
                                       const platform::Dictionary& body,
                                       const std::optional<std::string>& refreshToken,
                                       const platform::HttpHeaders& additionalHeaders = {}) const;
  RBLPromisePtr sendURLRequest(const platform::HttpRequest& request) const;

  std::shared_ptr<platform::HttpSession> m_session;
  std::string m_APIKey;
  std::string m_projectID;
  std::shared_ptr<RIRHeartbeatLoggerProtocol> m_heartbeatLogger;
  std::string m_baseAddress;
};

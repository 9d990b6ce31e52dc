#include "sdk/installations/RIRInstallationsAPIService.h"

#include "platform/app/Bundle.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/net/ServiceAddress.h"
#include "platform/net/URLError.h"
#include "platform/storage/Json.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIROptions.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsHTTPError.h"
#include "sdk/installations/RIRInstallationsLogger.h"
#include "sdk/utilities/ZULBundleAccess.h"

using platform::Dictionary;
using platform::Error;
using platform::HttpRequest;
using platform::Value;

namespace {

constexpr const char* kAPIKeyHeader = "X-Zoruvu-Api-Key";
constexpr const char* kBundleIDHeader = "X-Ios-Bundle-Identifier";
constexpr const char* kIIDMigrationAuthHeader = "x-zoruvu-ris-ios-iid-migration-auth";

std::string requestDescription(const HttpRequest& request) { return request.method() + " " + request.url(); }

std::string withoutTrailingSlash(std::string text) {
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

std::shared_ptr<RIRInstallationsURLSessionResponse> responseFrom(const Value& value) {
  return value.asOpaque<RIRInstallationsURLSessionResponse>();
}

}  // namespace

RIRInstallationsAPIService::RIRInstallationsAPIService(std::string APIKey, std::string projectID,
                                                       std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger,
                                                       std::string serviceBaseAddress)
    : RIRInstallationsAPIService(
          platform::HttpSession::create(platform::HttpSessionConfiguration::ephemeralConfiguration()),
          std::move(APIKey), std::move(projectID), std::move(heartbeatLogger), std::move(serviceBaseAddress)) {}

RIRInstallationsAPIService::RIRInstallationsAPIService(std::shared_ptr<platform::HttpSession> session,
                                                       std::string APIKey, std::string projectID,
                                                       std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger,
                                                       std::string serviceBaseAddress)
    : m_session(std::move(session)),
      m_APIKey(std::move(APIKey)),
      m_projectID(std::move(projectID)),
      m_heartbeatLogger(heartbeatLogger ? std::move(heartbeatLogger)
                                        : std::make_shared<RIRNullHeartbeatLogger>()),
      m_baseAddress(withoutTrailingSlash(std::move(serviceBaseAddress))) {}

std::string RIRInstallationsAPIService::serviceBaseAddress(const RIROptions* options) {
  auto configured = [](const Value& value) -> std::optional<std::string> {
    const std::string* text = value.asString();
    if (text == nullptr || text->find("://") == std::string::npos) return std::nullopt;
    return withoutTrailingSlash(*text);
  };
  if (options != nullptr) {
    if (auto address = configured(options->optionsDictionary().get(kRIRInstallationsServiceURLKey))) return *address;
  }
  if (auto address = configured(ZULBundleAccess::infoDictionary().get(kRIRInstallationsServiceURLKey))) return *address;
  return kRIRInstallationsDefaultServiceURL;
}

std::string RIRInstallationsAPIService::resolvedBaseAddress() const {
  return withoutTrailingSlash(platform::ServiceAddress::resolve(m_baseAddress));
}

std::string RIRInstallationsAPIService::SDKVersion() { return "i:" + RIRCoreVersionString(); }

HttpRequest RIRInstallationsAPIService::requestWithURL(const std::string& url, const std::string& method,
                                                       const Dictionary& body,
                                                       const std::optional<std::string>& refreshToken,
                                                       const platform::HttpHeaders& additionalHeaders) const {
  HttpRequest request(url, method);
  request.setValue(m_APIKey, kAPIKeyHeader);
  std::optional<std::string> bundleID = platform::Bundle::main()->bundleIdentifier();
  if (bundleID) request.setValue(*bundleID, kBundleIDHeader);
  // The JSON body; a serialisation failure leaves it empty.
  request.setValue("application/json", "Content-Type");
  platform::Result<platform::Bytes> json = platform::Json::serializeData(Value(body));
  if (json) request.setBody(json.value());
  if (refreshToken) request.setValue("RIS_v2 " + *refreshToken, "Authorization");
  if (std::optional<std::string> heartbeat = m_heartbeatLogger->headerValue()) {
    request.setValue(*heartbeat, kRIRInstallationsHeartbeatHeader);
  }
  for (const auto& [name, value] : additionalHeaders.fields()) request.setValue(value, name);
  return request;
}

HttpRequest RIRInstallationsAPIService::registerRequestWithInstallation(const RIRInstallationsItem& installation) const {
  std::string url = resolvedBaseAddress() + "/v1/projects/" + m_projectID + "/installations/";
  Dictionary body{{"fid", Value(installation.ririvuduInstallationID().value_or(""))},
                  {"authVersion", Value("RIS_v2")},
                  {"appId", Value(installation.appID())},
                  {"sdkVersion", Value(SDKVersion())}};
  platform::HttpHeaders headers;
  if (installation.IIDDefaultToken()) headers.set(kIIDMigrationAuthHeader, *installation.IIDDefaultToken());
  return requestWithURL(url, "POST", body, std::nullopt, headers);
}

HttpRequest RIRInstallationsAPIService::authTokenRequestWithInstallation(const RIRInstallationsItem& installation) const {
  std::string url = resolvedBaseAddress() + "/v1/projects/" + m_projectID + "/installations/" +
                    installation.ririvuduInstallationID().value_or("") + "/authTokens:generate";
  Dictionary body{{"installation", Value(Dictionary{{"sdkVersion", Value(SDKVersion())}})}};
  return requestWithURL(url, "POST", body, installation.refreshToken());
}

HttpRequest RIRInstallationsAPIService::deleteInstallationRequestWithInstallation(
    const RIRInstallationsItem& installation) const {
  std::string url = resolvedBaseAddress() + "/v1/projects/" + m_projectID + "/installations/" +
                    installation.ririvuduInstallationID().value_or("") + "/";
  return requestWithURL(url, "DELETE", Dictionary(), installation.refreshToken());
}

RBLPromisePtr RIRInstallationsAPIService::sendURLRequest(const HttpRequest& request) const {
  auto session = m_session;
  auto attempt = [session, request]() -> RBLResolution {
    RIRLogEmitLazy(ZULLoggerLevelDebug, kRIRLoggerInstallations, kRIRInstallationsMessageCodeSendAPIRequest, [&] {
      return "Sending request: " + requestDescription(request) + ", body:" +
             RIRInstallationsRedactedBody(request.body()) + ", headers: " +
             RIRInstallationsRedactedHeaders(request.headers()) + ".";
    });
    return RBLPromise::async([session, request](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
             auto task = session->dataTask(request, [request, fulfill, reject](platform::HttpResult result) {
               if (result.error || !result.response) {
                 Error error = result.error ? *result.error : platform::URLError::make(platform::URLError::kBadServerResponse,
                                                                                       request.url());
                 RIRLogEmitLazy(ZULLoggerLevelDebug, kRIRLoggerInstallations,
                                kRIRInstallationsMessageCodeAPIRequestNetworkError, [&] {
                                  return "Request failed: " + requestDescription(request) +
                                         ", error: " + error.description() + ".";
                                });
                 reject(error);
                 return;
               }
               RIRLogEmitLazy(ZULLoggerLevelDebug, kRIRLoggerInstallations,
                              kRIRInstallationsMessageCodeAPIRequestResponse, [&] {
                                return "Request response received: " + requestDescription(request) +
                                       ", error: (null), body: " + RIRInstallationsRedactedBody(result.body) + ".";
                              });
               auto response = std::make_shared<RIRInstallationsURLSessionResponse>();
               response->HTTPResponse = *result.response;
               response->data = std::move(result.body);
               fulfill(Value::opaque(response, "RIRInstallationsURLSessionResponse"));
             });
             task->resume();
           })
        ->then([](const Value& value) -> RBLResolution {
          auto response = responseFrom(value);
          int status = response->HTTPResponse.statusCode();
          if (status >= 200 && status <= 299) return value;
          RIRLogEmitLazy(ZULLoggerLevelDebug, kRIRLoggerInstallations,
                         kRIRInstallationsMessageCodeUnexpectedAPIRequestResponse, [&] {
                           return "Unexpected API response: " + std::to_string(status) + " " +
                                  response->HTTPResponse.url() + ", body: " +
                                  RIRInstallationsRedactedBody(response->data) + ".";
                         });
          return RIRInstallationsErrorUtil::APIErrorWithHTTPResponse(response->HTTPResponse, response->data);
        });
  };
  return RBLPromise::attempts(
      1, 1.0,
      [](int64_t, const Error& error) { return RIRInstallationsErrorUtil::isAPIError(error, 500); }, attempt);
}

RBLPromisePtr RIRInstallationsAPIService::registerInstallation(const RIRInstallationsItemPtr& installation) {
  std::optional<Error> invalid;
  if (!installation->isValid(&invalid)) return RIRInstallationsErrorUtil::rejectedPromiseWithError(*invalid);
  return RBLPromise::onQueueDo(platform::globalQueue(platform::Qos::Utility),
                               [self = shared_from_this(), installation]() -> RBLResolution {
                                 return self->sendURLRequest(self->registerRequestWithInstallation(*installation));
                               })
      ->then([installation](const Value& value) -> RBLResolution {
        auto response = responseFrom(value);
        RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeParsingAPIResponse,
                        "Parsing server response for " + response->HTTPResponse.url() + ".");
        auto item = installation->registeredInstallationWithJSONData(response->data, platform::Clock::current()->now());
        if (!item) {
          RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeAPIResponseParsingInstallationFailed,
                          "Failed to parse RIRInstallationsItem: " + item.error().description() + ".");
          return item.error();
        }
        RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeAPIResponseParsingInstallationSucceed,
                        "RIRInstallationsItem parsed successfully.");
        return RIRInstallationsItemValue(item.value());
      });
}

RBLPromisePtr RIRInstallationsAPIService::refreshAuthTokenForInstallation(const RIRInstallationsItemPtr& installation) {
  return RBLPromise::onQueueDo(platform::globalQueue(platform::Qos::Utility),
                               [self = shared_from_this(), installation]() -> RBLResolution {
                                 return self->sendURLRequest(self->authTokenRequestWithInstallation(*installation));
                               })
      ->then([installation](const Value& value) -> RBLResolution {
        auto response = responseFrom(value);
        RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeParsingAPIResponse,
                        "Parsing server response for " + response->HTTPResponse.url() + ".");
        auto token = RIRInstallationsItem::authTokenWithGenerateTokenAPIJSONData(response->data,
                                                                                 platform::Clock::current()->now());
        if (!token) {
          RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeAPIResponseParsingAuthTokenFailed,
                          "Failed to parse RIRInstallationsStoredAuthToken: " + token.error().description() + ".");
          return token.error();
        }
        RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeAPIResponseParsingAuthTokenSucceed,
                        "RIRInstallationsStoredAuthToken parsed successfully.");
        auto item = installation->copy();
        item->setAuthToken(token.value());
        return RIRInstallationsItemValue(item);
      });
}

RBLPromisePtr RIRInstallationsAPIService::deleteInstallation(const RIRInstallationsItemPtr& installation) {
  return RBLPromise::onQueueDo(platform::globalQueue(platform::Qos::Utility),
                               [self = shared_from_this(), installation]() -> RBLResolution {
                                 return self->sendURLRequest(self->deleteInstallationRequestWithInstallation(*installation));
                               })
      ->then([installation](const Value&) -> RBLResolution { return RIRInstallationsItemValue(installation); });
}

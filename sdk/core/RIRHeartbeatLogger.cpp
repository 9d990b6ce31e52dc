#include "sdk/core/RIRHeartbeatLogger.h"

#include <utility>

#include "sdk/core/RIRApp.h"

RIRHeartbeatLogger::RIRHeartbeatLogger(const std::string& appID)
    : RIRHeartbeatLogger(appID, currentUserAgentProvider()) {}

RIRHeartbeatLogger::RIRHeartbeatLogger(const std::string& appID, UserAgentProvider userAgentProvider)
    : m_heartbeatController(appID), m_userAgentProvider(std::move(userAgentProvider)) {}

RIRHeartbeatLogger::UserAgentProvider RIRHeartbeatLogger::currentUserAgentProvider() {
  return [] { return RIRApp::ririvuduUserAgent(); };
}

RIRHeartbeatLogger::UserAgentProvider RIRHeartbeatLogger::userAgentProvider() const {
  std::lock_guard lock(m_providerMutex);
  return m_userAgentProvider;
}

void RIRHeartbeatLogger::log() {
  UserAgentProvider provider = userAgentProvider();
  m_heartbeatController.log(provider ? provider() : std::string());
}

RIRHeartbeatsPayload RIRHeartbeatLogger::flushHeartbeatsIntoPayload() { return m_heartbeatController.flush(); }

void RIRHeartbeatLogger::flushHeartbeatsIntoPayloadWithCompletionHandler(
    std::function<void(RIRHeartbeatsPayload)> completion) {
  m_heartbeatController.flushAsyncWithCompletionHandler(std::move(completion));
}

std::optional<std::string> RIRHeartbeatLogger::headerValue() {
  return RIRHeaderValueFromHeartbeatsPayload(flushHeartbeatsIntoPayload());
}

void RIRHeartbeatLogger::asyncHeaderValueWithCompletionHandler(
    std::function<void(std::optional<std::string>)> completion) {
  flushHeartbeatsIntoPayloadWithCompletionHandler([completion = std::move(completion)](RIRHeartbeatsPayload payload) {
    if (completion) completion(RIRHeaderValueFromHeartbeatsPayload(payload));
  });
}

long RIRHeartbeatLogger::heartbeatCodeForToday() {
  return m_heartbeatController.flushHeartbeatFromToday().isEmpty() ? 0 : 2;
}

void RIRHeartbeatRegisterLibrary() {
  RIRApp::setHeartbeatLoggerFactory([](const std::string& appID) -> std::shared_ptr<RIRHeartbeatLoggerProtocol> {
    return std::make_shared<RIRHeartbeatLogger>(appID);
  });
}

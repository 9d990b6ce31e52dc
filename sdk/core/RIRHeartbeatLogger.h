// RIRHeartbeatLogger: an app's heartbeat logger (RIRHeartbeatLoggerProtocol).
//
//   log()                  records today's heartbeat with the agent the
//                          provider gives now (default: RIRApp's user agent);
//                          at most one per UTC day is kept; returns at once.
//   headerValue()          flushes every stored heartbeat into the value of
//                          the "X-ririvudu-client" header; none when there was
//                          nothing to send. Blocks until the storage queue ran.
//   heartbeatCodeForToday  2 and today's heartbeat taken out of the store, or
//                          0 when today has none. Blocks likewise.
//   asyncHeaderValueWithCompletionHandler  headerValue without blocking; the
//                          block runs on the storage queue.
// Storage and encoding failures show up as none / 0; nothing here fails.
//
// RIRHeartbeatRegisterLibrary() makes every new RIRApp create one of these
// for its app ID (called from RIRRegisterAll()).
//
// Thread safety: every member may be called from any thread except the
// identifier's storage queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/core/RIRHeartbeatController.h"
#include "sdk/core/RIRHeartbeatLoggerProtocol.h"
#include "sdk/core/RIRHeartbeatsPayload.h"

class RIRHeartbeatLogger : public RIRHeartbeatLoggerProtocol {
 public:
  using UserAgentProvider = std::function<std::string()>;

  explicit RIRHeartbeatLogger(const std::string& appID);
  RIRHeartbeatLogger(const std::string& appID, UserAgentProvider userAgentProvider);

  // Returns RIRApp::ririvuduUserAgent() of the moment it runs.
  static UserAgentProvider currentUserAgentProvider();

  RIRHeartbeatController& heartbeatController() { return m_heartbeatController; }
  UserAgentProvider userAgentProvider() const;

  void log() override;
  RIRHeartbeatsPayload flushHeartbeatsIntoPayload();
  void flushHeartbeatsIntoPayloadWithCompletionHandler(std::function<void(RIRHeartbeatsPayload)> completion);
  std::optional<std::string> headerValue() override;
  void asyncHeaderValueWithCompletionHandler(std::function<void(std::optional<std::string>)> completion) override;
  long heartbeatCodeForToday() override;

 private:
  RIRHeartbeatController m_heartbeatController;
  mutable std::mutex m_providerMutex;
  UserAgentProvider m_userAgentProvider;
};

// Installs the RIRHeartbeatLogger factory on RIRApp.
void RIRHeartbeatRegisterLibrary();

// RIRHeartbeatLoggerProtocol: what the app object and the request builders
// use of an app's heartbeat logger. RIRNullHeartbeatLogger stores nothing and
// reports no heartbeat; it is what an app gets until a heartbeat library
// installs its factory with RIRApp::setHeartbeatLoggerFactory.
//
// Thread safety: implementations must be callable from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

class RIRHeartbeatLoggerProtocol {
 public:
  virtual ~RIRHeartbeatLoggerProtocol() = default;
  // Records today's heartbeat (at most one per day is kept).
  virtual void log() = 0;
  // 0: no heartbeat today, 2: a heartbeat today (taken out of the store).
  virtual long heartbeatCodeForToday() = 0;
  virtual void asyncHeaderValueWithCompletionHandler(std::function<void(std::optional<std::string>)> completion) = 0;
  // None when there is nothing to send.
  virtual std::optional<std::string> headerValue() = 0;
};

class RIRNullHeartbeatLogger : public RIRHeartbeatLoggerProtocol {
 public:
  void log() override {}
  long heartbeatCodeForToday() override { return 0; }
  void asyncHeaderValueWithCompletionHandler(std::function<void(std::optional<std::string>)> completion) override {
    if (completion) completion(std::nullopt);
  }
  std::optional<std::string> headerValue() override { return std::nullopt; }
};

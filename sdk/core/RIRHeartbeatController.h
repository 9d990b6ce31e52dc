// RIRHeartbeatController: the SDK-facing wrapper of one identifier's
// HeartbeatController; see HeartbeatController.h for the behaviour.
//
// Thread safety: as HeartbeatController (any thread but the storage queue;
// flushAsyncWithCompletionHandler's block runs on the storage queue).
#pragma once

#include <functional>
#include <string>

#include "sdk/core/HeartbeatController.h"
#include "sdk/core/RIRHeartbeatsPayload.h"

class RIRHeartbeatController {
 public:
  explicit RIRHeartbeatController(const std::string& id) : m_heartbeatController(id) {}

  void log(const std::string& agent) { m_heartbeatController.log(agent); }
  RIRHeartbeatsPayload flush() { return RIRHeartbeatsPayload(m_heartbeatController.flush()); }
  void flushAsyncWithCompletionHandler(std::function<void(RIRHeartbeatsPayload)> completion) {
    m_heartbeatController.flushAsync([completion = std::move(completion)](RirivuduCoreInternal::HeartbeatsPayload p) {
      if (completion) completion(RIRHeartbeatsPayload(std::move(p)));
    });
  }
  RIRHeartbeatsPayload flushHeartbeatFromToday() {
    return RIRHeartbeatsPayload(m_heartbeatController.flushHeartbeatFromToday());
  }

 private:
  RirivuduCoreInternal::HeartbeatController m_heartbeatController;
};

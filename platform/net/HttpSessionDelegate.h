// HttpSessionDelegate: receives the events of a session's streaming tasks,
// on the session's delegate queue, in this order per task:
// didReceiveResponse (once, the final answer after redirects),
// didReceiveData (each chunk as it arrived, zero or more times),
// didComplete (exactly once; an error or none; -999 after cancel()).
// didBecomeInvalid comes once after the session was invalidated and its last
// task completed; after it the session lets go of the delegate.
//
// A streaming task holds at most 1 MiB of received bytes that its delegate
// has not taken yet: beyond that the transfer pauses (nothing is dropped)
// until the delegate has taken half of them, so a delegate slower than the
// server bounds the memory of the stream instead of queueing without end.
//
// Tasks created with a completion handler report only through that handler.
#pragma once

#include <optional>

#include "platform/net/HttpResponse.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace platform {

class HttpTask;

class HttpSessionDelegate {
 public:
  virtual ~HttpSessionDelegate() = default;
  virtual void didReceiveResponse(HttpTask& task, const HttpResponse& response) {
    (void)task, (void)response;
  }
  virtual void didReceiveData(HttpTask& task, const Bytes& chunk) { (void)task, (void)chunk; }
  virtual void didComplete(HttpTask& task, const std::optional<Error>& error) {
    (void)task, (void)error;
  }
  virtual void didBecomeInvalid(const std::optional<Error>& error) { (void)error; }
};

}  // namespace platform

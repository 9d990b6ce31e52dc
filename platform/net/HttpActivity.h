// HttpActivity: the process's HTTP exchanges as a whole, for whoever waits
// for a quiet process or reports every request (test drivers and probes).
//
//   inFlightCount()  tasks resumed whose end (their completion, or the
//                    streaming delegate's didComplete) has not run yet
//   setObserver(fn)  fn hears each resumed task's end, right after its
//                    completion ran, on the session's delegate queue: the
//                    original request's method and address, the wall time
//                    of Clock::current() when it was resumed, and the final
//                    status code (0 without a response). An empty observer
//                    removes it.
//
// Thread safety: every member may be called from any thread; the observer is
// called without any lock held.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

struct HttpActivityRecord {
  std::string method;
  std::string url;
  double startTime = 0;  // seconds since 1970
  int statusCode = 0;
};

class HttpActivity {
 public:
  using Observer = std::function<void(const HttpActivityRecord& record)>;

  static size_t inFlightCount();
  static void setObserver(Observer observer);

  // The task layer's reports.
  static void taskResumed();
  static void taskEnded(const HttpActivityRecord& record);
};

}  // namespace platform

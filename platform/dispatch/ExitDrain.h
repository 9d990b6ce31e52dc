// ExitDrain: finishes the work queued on the queues that write stored state
// before a program ends normally.
//
// A store registers each serial queue on which it writes files, databases,
// keychain items or settings, once, where it creates that queue
// (registerQueue). A normal exit (the window closed, SIGTERM, SIGINT, SIGHUP,
// a command-line tool's end) calls drain() and then endProcess, which runs no
// further queued work.
//
//   drain(timeout)  waits, in rounds, until every registered queue has run
//                   each task queued on it before the round, and one whole
//                   round saw no new task arrive on any of them (so work that
//                   a task hands on to another registered queue is waited
//                   for too). Returns true then; false once `timeout` real
//                   seconds have passed, after one line naming the queues
//                   still busy (reportInternalProblem "dispatch"). Work on
//                   other queues (the main queue, global queues, transfers
//                   in flight) is not waited for. A drain called from a task
//                   of a registered queue does not wait for that queue (nor
//                   for the queues that run their work on it).
//
// The registry holds its queues weakly: a queue whose store went away drops
// out. Tests drain before they remove a temporary home (TempHome does), so
// that no queued write outlives its test's folder.
//
// Thread safety: both functions may be called from any thread.
#pragma once

#include "platform/dispatch/SerialQueue.h"

namespace platform {

class ExitDrain {
 public:
  // "A few seconds": long enough for a store's queued writes, short enough
  // that quitting never hangs.
  static constexpr double kTimeoutSeconds = 5;

  static void registerQueue(const SerialQueue& queue);
  static bool drain(double timeoutSeconds = kTimeoutSeconds);
};

}  // namespace platform

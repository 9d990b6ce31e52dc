// Quiescence: waiting until the process has nothing left to do, so that a
// test (or the probe) can look at state that several queues and the network
// build together.
//
//   ASSERT_TRUE(testkit::waitForQuiescence());
//
// Quiet means: no task queued or running on any serial or concurrent queue
// (platform::pendingTaskCount), the main queue empty (drained here when
// called on the main thread) and no HTTP exchange in flight
// (platform::HttpActivity), seen on a few consecutive looks a millisecond
// apart. False when the process was still busy after `timeoutSeconds` of
// real time. Work that only a timer would start (a virtual clock's pending
// deadlines) does not count as busy.
//
// Thread safety: call it from the main thread or from a thread that no queue
// is waiting for; never from a queue's task (that task would count itself).
#pragma once

namespace testkit {

bool waitForQuiescence(double timeoutSeconds = 30);

}  // namespace testkit

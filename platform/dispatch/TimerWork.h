// TimerWork: lets whoever drives a VirtualClock wait for the work that the
// timers and delayed tasks it released have queued.
//
// Every fire of a Timer or of DispatchQueue::after notes the queue it fed.
// waitForTimerWork() waits until each noted queue has run everything queued
// on it before the wait reached it, repeating while that work makes further
// timers fire (a zero delay fires at once), and forgets the noted queues. The
// main queue is drained on the calling thread when that is the main thread.
// Answers false when some queue was still busy after `timeoutSeconds` of
// real time.
//
// Thread safety: any thread; do not call it from a task of a queue that
// timers feed (it would wait for itself and time out).
#pragma once

namespace platform {

bool waitForTimerWork(double timeoutSeconds = 10);

}  // namespace platform

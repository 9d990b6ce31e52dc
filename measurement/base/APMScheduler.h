// APMScheduler: owner of the measurement engine's serial worker queue. Blocks
// are submitted with a block ID that names them in log lines; an exception
// thrown inside a block (platform::Exception, any std::exception or anything
// else) is caught on the queue, reported to the monitor and dropped, so the
// queue always goes on with the next block.
//
//   scheduleOnWorkerQueueBlockID    asynchronous; an empty block logs 30005;
//                                   a throwing block logs 30000.
//   dispatchSyncOnWorkerQueueBlockID waits for the block; an empty block logs
//                                   30002; a throwing block logs 30003, and a
//                                   block that did not run to its end 30004.
//                                   Never call it from the worker queue (the
//                                   dispatch layer refuses that sync, and the
//                                   block counts as not run).
//   checkOnBackgroundThreadWithMethodName  NO and 30001 on the main thread.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <functional>
#include <string>

#include "platform/dispatch/SerialQueue.h"

class APMScheduler {
 public:
  using Block = std::function<void()>;

  explicit APMScheduler(const std::string& workerQueueLabel);

  void scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block) const;
  void dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, const Block& block) const;
  static bool checkOnBackgroundThreadWithMethodName(const std::string& methodName);

  const platform::SerialQueue& workerQueue() const { return m_workerQueue; }

 private:
  platform::SerialQueue m_workerQueue;
};

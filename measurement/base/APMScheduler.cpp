#include "measurement/base/APMScheduler.h"

#include <exception>

#include "measurement/base/APMEngineServices.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/values/Exception.h"

namespace {

// Runs the block; an exception escaping it is reported with `code` and the
// block ID. Answers whether the block ran to its end.
bool runReporting(const std::string& blockID, const APMScheduler::Block& block, int64_t code,
                  const std::string& what) {
  try {
    block();
    return true;
  } catch (const platform::Exception& exception) {
    APMEngineServices::monitor()->logWithLevel(1, code, what + blockID + ". Exception", exception);
  } catch (const std::exception& exception) {
    APMEngineServices::monitor()->logWithLevel(1, code, what + blockID + ". Exception",
                                               platform::Exception("std::exception", exception.what()));
  } catch (...) {
    APMEngineServices::monitor()->logWithLevel(1, code, what + blockID + ". Exception",
                                               platform::Exception("unknown", "an exception of unknown type"));
  }
  return false;
}

}  // namespace

APMScheduler::APMScheduler(const std::string& workerQueueLabel) : m_workerQueue(workerQueueLabel) {
  // The engine writes its database here.
  platform::ExitDrain::registerQueue(m_workerQueue);
}

void APMScheduler::scheduleOnWorkerQueueBlockID(const std::string& blockID, Block block) const {
  if (!block) {
    APMEngineServices::monitor()->logWithLevel(
        1, 30005, "Nil block dispatched asynchronously on worker queue. Block ID=" + blockID + ".");
    return;
  }
  m_workerQueue.async([blockID, block = std::move(block)] {
    runReporting(blockID, block, 30000, "Exception on worker queue. Block ID=");
  });
}

void APMScheduler::dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, const Block& block) const {
  if (!block) {
    APMEngineServices::monitor()->logWithLevel(
        1, 30002, "Nil block dispatched synchronously on worker queue. Block ID=" + blockID + ".");
    return;
  }
  bool completed = false;
  try {
    m_workerQueue.sync([&] {
      completed = runReporting(blockID, block, 30003, "Exception on worker queue when processing sync block. Block ID=");
    });
  } catch (const platform::Exception&) {
    // A sync the dispatch layer refused (called from the worker queue): the
    // block did not run, which the line below reports.
  }
  if (!completed) {
    APMEngineServices::monitor()->logWithLevel(4, 30004, "Synchronous task failed. Block ID=" + blockID);
  }
}

bool APMScheduler::checkOnBackgroundThreadWithMethodName(const std::string& methodName) {
  if (!platform::isMainThread()) return true;
  APMEngineServices::monitor()->logWithLevel(
      1, 30001, "Method " + (methodName.empty() ? std::string("<empty method name>") : methodName) +
                    " should execute on background thread",
      nullptr);
  return false;
}

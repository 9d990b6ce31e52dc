// APMETaskManagerDelegate: what the experiment task manager tells its owner
// (the experiment manager). Every call comes on the task manager's worker
// queue; the delegate hops to its own queue itself.
//
//   taskManagerShouldFetchExperiments   whether a fetch is wanted when the
//                                       timer fires (YES unless overridden)
//   taskManagerDidStartWithActivatedSnapshots  the stored snapshots at start
//   taskManagerDidFinishFetchingExperimentSnapshots  a fetch's snapshots
//                                       (maybe none) and its errors by SDK
//   taskManagerDidUpsertPendingSnapshots  snapshots just rewritten as pending
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Error.h"

class APMESnapshot;
class APMETaskManager;

class APMETaskManagerDelegate {
 public:
  using Snapshots = std::vector<std::shared_ptr<APMESnapshot>>;
  using Errors = std::map<std::string, platform::Error>;

  virtual ~APMETaskManagerDelegate() = default;
  virtual bool taskManagerShouldFetchExperiments(APMETaskManager&) { return true; }
  virtual void taskManagerDidStartWithActivatedSnapshots(APMETaskManager& taskManager, const Snapshots& activated,
                                                         const Snapshots& pending, const Snapshots& launched) = 0;
  virtual void taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager& taskManager,
                                                               const Snapshots& snapshots,
                                                               const std::optional<Errors>& errors) = 0;
  virtual void taskManagerDidUpsertPendingSnapshots(APMETaskManager& taskManager, const Snapshots& snapshots) = 0;
};

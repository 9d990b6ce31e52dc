// RCNConfigExperiment: the A/B experiments a fetch brings along: the payloads
// of the last fetch, those made active at the last activation, and the
// metadata with the latest experiment start time; all mirrored into the
// `experiment` rows of the config database through the caller's
// RCNConfigDBWrites (committed with the rest of its fetch or activation). At
// activation the payloads go to the experiment controller under the origin
// "rrc".
//
// The lists are touched only on the queue the facade gives (the facade's
// serial queue): the fetcher and activation call from it, and the restore
// from the database hops onto it.
//
// Thread safety: call from the given queue only (construction aside).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/values/Value.h"
#include "sdk/remote-config/RCNConfigDBManager.h"
#include "sdk/remote-config/ab-testing/RIRExperimentController.h"

class RCNConfigExperiment : public std::enable_shared_from_this<RCNConfigExperiment> {
 public:
  static constexpr const char* kServiceOrigin = "rrc";
  static constexpr const char* kLastExperimentStartTimeKey = "last_experiment_start_time";

  // Starts the restore from the database.
  static std::shared_ptr<RCNConfigExperiment> create(std::shared_ptr<RCNConfigDBManager> manager,
                                                     std::shared_ptr<RIRExperimentController> controller,
                                                     platform::DispatchQueue queue);

  // Replaces the fetched payloads with the JSON of each description (an
  // array of objects; nothing or another kind clears them).
  void updateExperimentsWithResponse(const std::optional<platform::Value>& response, RCNConfigDBWrites& writes);
  // Activation: hands the fetched payloads to the controller (the handler
  // goes with them) and makes them the active ones.
  void updateExperimentsWithHandler(RIRExperimentController::Completion handler, RCNConfigDBWrites& writes);
  void updateExperimentStartTime(RCNConfigDBWrites& writes);
  void updateActiveExperimentsInDB(RCNConfigDBWrites& writes);
  double latestStartTimeWithExistingLastStartTime(double existing) const;

  const std::vector<platform::Bytes>& experimentPayloads() const { return m_experimentPayloads; }
  const platform::Dictionary& experimentMetadata() const { return m_experimentMetadata; }
  const std::vector<platform::Bytes>& activeExperimentPayloads() const { return m_activeExperimentPayloads; }
  const std::shared_ptr<RIRExperimentController>& experimentController() const { return m_experimentController; }

 private:
  struct PrivateTag {};

 public:
  RCNConfigExperiment(PrivateTag, std::shared_ptr<RCNConfigDBManager> manager,
                      std::shared_ptr<RIRExperimentController> controller, platform::DispatchQueue queue);

 private:
  void loadExperimentFromTable();

  std::vector<platform::Bytes> m_experimentPayloads;
  platform::Dictionary m_experimentMetadata;
  std::vector<platform::Bytes> m_activeExperimentPayloads;
  std::shared_ptr<RCNConfigDBManager> m_DBManager;
  std::shared_ptr<RIRExperimentController> m_experimentController;
  platform::DispatchQueue m_queue;
};

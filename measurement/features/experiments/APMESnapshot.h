// APMESnapshot: the experiments the experiment service assigned to one SDK,
// by experiment ID (a later experiment of an ID replaces an earlier one), with
// the time the snapshot was made or stored and whether its new-snapshot
// notice was handed to an observer (then it is never activated
// automatically at a later start).
//
//   initWithSDKName  nullptr (level 2) for an empty name (840000) or an
//                    empty experiment among the experiments (840002); keeps
//                    copies; timestamp now, not manually activated
//   initWithProtobuf name = field 1, experiments = field 2 (each through
//                    APMEExperiment::initWithProtobuf); nullptr without a name
//   flagByName       the flag of that name of the first experiment, in ID
//                    order, that has one
//   copy             same name and experiments, timestamp now, not manually
//                    activated
//   addFlag          into the experiment of the ID, made when missing; an
//                    empty flag is refused (840004)
//   proto            the Snapshot message, experiments in ID order
//
// Thread safety: every member may be called from any thread (one mutex).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/features/experiments/APMEExperiment.h"
#include "measurement/messages/APMPBMessage.h"

class APMESnapshot {
 public:
  static std::shared_ptr<APMESnapshot> initWithSDKName(const std::string& SDKName,
                                                       const std::vector<std::shared_ptr<APMEExperiment>>& experiments);
  static std::shared_ptr<APMESnapshot> initWithProtobuf(const NANOMessageBase& snapshot);

  const std::string& SDKName() const { return m_SDKName; }
  // In ID order.
  std::vector<std::shared_ptr<APMEExperiment>> experiments() const;
  std::shared_ptr<APMPBFlag> flagByName(const std::string& name) const;
  void addFlag(const std::shared_ptr<APMPBFlag>& flag, int64_t experimentID);
  void addFlags(const std::vector<std::shared_ptr<APMPBFlag>>& flags, int64_t experimentID);
  std::shared_ptr<APMESnapshot> copy() const;
  std::shared_ptr<APMPBSnapshot> proto() const;

  double timestamp() const;
  void setTimestamp(double timestamp);
  bool manuallyActivated() const;
  void setManuallyActivated(bool manuallyActivated);

  APMESnapshot(std::string SDKName, double timestamp) : m_SDKName(std::move(SDKName)), m_timestamp(timestamp) {}

 private:
  const std::string m_SDKName;
  mutable std::mutex m_mutex;
  std::map<int64_t, std::shared_ptr<APMEExperiment>> m_experimentsByExperimentID;
  double m_timestamp;
  bool m_manuallyActivated = false;
};

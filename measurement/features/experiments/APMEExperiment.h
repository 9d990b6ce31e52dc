// APMEExperiment: one experiment of a snapshot: its ID and its flags (Flag
// messages) by name; a later flag of a name replaces an earlier one. Flag
// messages are never changed once stored, so they may be read from any
// thread.
//
//   initWithExperimentID  nullptr (level 2) without an ID (870000) or with an
//                         empty flag among the flags (870003); flags
//                         without a name are left out
//   initWithProtobuf      ID = field 1 (0 when absent), flags = field 2
//   addFlag               refuses an empty flag (870004) or one without a
//                         name (870006)
//   flagWithName          nullptr for an empty name (870007) or none stored
//   proto                 the Experiment message: the ID as int32, the flags
//                         in name order
//
// Thread safety: every member may be called from any thread (one mutex).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessage.h"

class APMEExperiment {
 public:
  static std::shared_ptr<APMEExperiment> initWithExperimentID(std::optional<int64_t> experimentID,
                                                              const std::vector<std::shared_ptr<APMPBFlag>>& flags);
  static std::shared_ptr<APMEExperiment> initWithProtobuf(const NANOMessageBase& experiment);

  int64_t experimentID() const { return m_experimentID; }
  // In name order.
  std::vector<std::shared_ptr<APMPBFlag>> flags() const;
  void addFlag(const std::shared_ptr<APMPBFlag>& flag);
  std::shared_ptr<APMPBFlag> flagWithName(const std::string& name) const;
  std::shared_ptr<APMEExperiment> copy() const;
  std::shared_ptr<APMPBExperiment> proto() const;

  explicit APMEExperiment(int64_t experimentID) : m_experimentID(experimentID) {}

 private:
  const int64_t m_experimentID;
  mutable std::mutex m_mutex;
  std::map<std::string, std::shared_ptr<APMPBFlag>> m_flagsByName;
};

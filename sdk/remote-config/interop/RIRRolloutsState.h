// RIRRolloutsState: the set of active rollout assignments, by object
// identity: the same assignment object is held once, two equal assignments
// both. The list keeps first-insertion order.
// Thread safety: set up by its maker before it is shared.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "sdk/remote-config/interop/RIRRolloutAssignment.h"

class RIRRolloutsState {
 public:
  using Assignments = std::vector<std::shared_ptr<RIRRolloutAssignment>>;

  explicit RIRRolloutsState(const Assignments& assignmentList) { setAssignments(assignmentList); }

  const Assignments& assignments() const { return m_assignments; }
  void setAssignments(const Assignments& list) {
    m_assignments.clear();
    for (const auto& assignment : list) {
      if (std::find(m_assignments.begin(), m_assignments.end(), assignment) == m_assignments.end()) {
        m_assignments.push_back(assignment);
      }
    }
  }

 private:
  Assignments m_assignments;
};

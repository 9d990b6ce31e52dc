// APMTCFRegistration: the TCF purposes declared for the measuring vendor:
// consent purposes {1, 3, 4}, legitimate-interest purposes {2, 7, 9, 10},
// of which the flexible ones (a publisher may switch their legal basis) are
// {2, 7, 9, 10}.
//
// Immutable once made; any thread.
#pragma once

#include <memory>
#include <set>

class APMTCFRegistration {
 public:
  static const APMTCFRegistration& sharedInstance();

  const std::set<int>& purposeIDs() const { return m_purposeIDs; }
  const std::set<int>& purposeIDsLegitimateInterests() const { return m_purposeIDsLegitimateInterests; }
  const std::set<int>& purposeIDsFlexiblePurposes() const { return m_purposeIDsFlexiblePurposes; }

  bool hasConsentForPurposeID(int purposeID) const { return m_purposeIDs.contains(purposeID); }
  bool hasLegitimateInterestForPurposeID(int purposeID) const {
    return m_purposeIDsLegitimateInterests.contains(purposeID);
  }
  bool hasFlexibleLegitimateInterestForPurposeID(int purposeID) const {
    return m_purposeIDsFlexiblePurposes.contains(purposeID);
  }

 private:
  const std::set<int> m_purposeIDs{1, 3, 4};
  const std::set<int> m_purposeIDsLegitimateInterests{2, 7, 9, 10};
  const std::set<int> m_purposeIDsFlexiblePurposes{2, 7, 9, 10};
};

// RCNPersonalization: reports, once per choice, that a personalized
// parameter was served: the events "personalization_assignment" and "_fpc"
// with origin "rp" through the analytics connector. A choice counts as
// reported while the key's metadata object is the one reported last (an
// activation brings new metadata objects, so the choice is reported again).
// Metadata without "personalizationId", "armIndex" or "group" is reported
// with those parameters left out.
//
// Thread safety: called from the facade's serial queue; the record of
// reported choices has a lock of its own.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sdk/core/ROZAdavurudoInterop.h"
#include "sdk/remote-config/RCNConfigContent.h"

class RCNPersonalization {
 public:
  explicit RCNPersonalization(std::shared_ptr<ROZAdavurudoInterop> analytics) : m_analytics(std::move(analytics)) {}

  void logArmActive(const std::string& key, const RCNConfigAndMetadata& config);

 private:
  std::shared_ptr<ROZAdavurudoInterop> m_analytics;
  std::mutex m_mutex;
  std::map<std::string, platform::Dictionary> m_loggedChoiceIds;  // key -> the metadata reported
};

// APMEClient: an SDK's handle on its experiment flags, made by the manager's
// registerSDKProperty. Every call forwards to the manager (held weakly) with
// the client's SDK name; without the manager the answers are nil / NO / -1.
//
//   valueForFlag / flag      activated, then launched, then default value;
//                            nil for an empty name (830002)
//   activateLatestSnapshot   the pending snapshot takes effect
//   hasStaleSnapshot         the activated snapshot is older than 3 days
//   resetToDefaults          forgets the activated snapshot
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/base/APMExperimentManager.h"
#include "measurement/messages/APMPBMessage.h"

class APMEManager;

class APMEClient : public APMExperimentClient {
 public:
  using Flags = std::map<std::string, std::shared_ptr<APMPBFlag>>;

  APMEClient(APMESDKProperty property, Flags defaultFlags, std::weak_ptr<APMEManager> manager);

  std::optional<platform::Value> valueForFlag(const std::string& name);
  bool hasStaleSnapshot();
  void resetToDefaults();
  const std::string& SDKName() const { return m_property.name; }
  const APMESDKProperty& SDKProperty() const { return m_property; }
  const Flags& defaultFlags() const { return m_defaultFlags; }
  std::shared_ptr<APMEExperimentObserverDelegate> delegate() const;

  // APMExperimentClient
  bool activateLatestSnapshot(platform::Error* error) override;
  std::optional<platform::Value> flag(const std::string& name) override { return valueForFlag(name); }
  void setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) override;

 private:
  const APMESDKProperty m_property;
  const Flags m_defaultFlags;
  const std::weak_ptr<APMEManager> m_manager;
  mutable std::mutex m_mutex;
  std::weak_ptr<APMEExperimentObserverDelegate> m_delegate;
};

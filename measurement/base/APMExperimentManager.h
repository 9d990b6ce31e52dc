// What the measurement settings need of the experiment manager (the
// measurement features' experiment code): register this library with its
// default flags, get the library's experiment client, list the experiment
// IDs and reset. The features implement these interfaces; until they do, no
// manager exists and the settings run without experiments.
//
//   APMExperimentManager::registerSDKProperty  the library's client
//   APMExperimentClient::activateLatestSnapshot  YES, or NO with the error set
//   APMExperimentClient::flag                  the manager's value of a flag
//   APMEExperimentObserverDelegate             told of new snapshots and fetch
//                                              errors, asked whether to fetch
//
// Thread safety: implementations may be called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Error.h"
#include "platform/values/Value.h"

class APMExperimentClient;

class APMEExperimentObserverDelegate {
 public:
  virtual ~APMEExperimentObserverDelegate() = default;
  virtual void clientDidReceiveNewSnapshot(APMExperimentClient& client) = 0;
  virtual void clientDidReceiveFetchError(APMExperimentClient& client, const std::optional<platform::Error>& error) = 0;
  virtual bool shouldFetchExperimentsForClient(APMExperimentClient& client) = 0;
};

struct APMESDKProperty;

// Supplies custom properties computed when a request is built; they win over
// the property's own.
class APMESDKPropertyProviderDelegate {
 public:
  virtual ~APMESDKPropertyProviderDelegate() = default;
  virtual std::map<std::string, std::string> dynamicCustomPropertiesForSDKProperty(
      const APMESDKProperty& property) = 0;
};

// The library's description for the manager (an APMESDKProperty): its name
// and version, and what the experiment request says of it. Without a
// diversion key of its own the app instance's key is used.
struct APMESDKProperty {
  std::string name;
  int64_t version = 0;
  std::optional<std::string> appID = std::nullopt;
  std::optional<std::string> diversionKey = std::nullopt;
  std::map<std::string, std::string> customProperties = {};
  // Held weakly.
  std::weak_ptr<APMESDKPropertyProviderDelegate> delegate = {};
};

class APMExperimentClient {
 public:
  virtual ~APMExperimentClient() = default;
  virtual bool activateLatestSnapshot(platform::Error* error) = 0;
  virtual std::optional<platform::Value> flag(const std::string& name) = 0;
  // Held weakly.
  virtual void setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) = 0;
};

class APMExperimentManager {
 public:
  virtual ~APMExperimentManager() = default;
  virtual std::shared_ptr<APMExperimentClient> registerSDKProperty(const APMESDKProperty& property,
                                                                   const platform::Dictionary& defaultFlags) = 0;
  virtual std::vector<int64_t> experimentIDs() = 0;
  virtual void reset() = 0;
};

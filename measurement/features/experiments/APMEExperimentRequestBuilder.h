// APMEExperimentRequestBuilder: the body of the experiment fetch. It keeps
// the registered SDKs' properties by name (a later property of a name
// replaces the earlier one) and builds the ExperimentRequest from them:
//
//   field 1 AppProperty     "macos", the first preferred language lower-cased
//                           (left out when there is none), the main bundle
//                           identifier, whether the build came from a store,
//                           the experiment client version (10000)
//   field 2 ClientProperty  one per SDK, in name order, set only when there
//                           is one: name, "<diversion key>-<name>", version,
//                           app ID, and the custom properties (the static
//                           ones, then the provider delegate's over them)
//
// An SDK without a diversion key of its own takes the app instance's
// (APMIdentity); with none at all it is left out (860001).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "measurement/base/APMExperimentManager.h"
#include "measurement/messages/APMPBMessage.h"

class APMEExperimentRequestBuilder {
 public:
  static constexpr const char* kPlatform = "macos";

  static std::shared_ptr<APMEExperimentRequestBuilder> sharedInstance();
  static std::shared_ptr<APMPBAppProperty> appPropertyProto();
  // The ClientProperty of one SDK, with appDiversionKey when the property has
  // no key of its own; nullptr when neither is there.
  static std::shared_ptr<APMPBClientProperty> clientPropertyProto(const APMESDKProperty& property,
                                                                  const std::string& appDiversionKey);

  void addSDKProperty(const APMESDKProperty& property);
  std::shared_ptr<APMPBExperimentRequest> request() const;

 private:
  mutable std::mutex m_mutex;
  std::map<std::string, APMESDKProperty> m_clientPropertyBySDKName;
};

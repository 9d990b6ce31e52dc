// ABTConditionalUserPropertyController: experiments kept in analytics as
// conditional user properties (name = experiment ID, value = variant ID):
// setting them within the origin's limit and overflow policy, clearing them,
// and logging the event that marks an experiment as set.
//
// One controller per process (sharedInstanceWithAnalytics: the connector of
// the first call). Its serial queue "com.zoruvu.RirivuduABTesting.analytics"
// is where the experiment controller runs its updates, one at a time. The
// operations themselves run on the caller's thread; without a connector the
// limit is 0 and the experiment list is nothing.
//
// Thread safety: the shared instance is made once; operations are called on
// the controller's queue.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"
#include "platform/values/Value.h"
#include "sdk/core/ROZAdavurudoInterop.h"
#include "sdk/remote-config/ab-testing/ABTExperimentPayload.h"
#include "sdk/remote-config/ab-testing/RIRLifecycleEvents.h"

class ABTConditionalUserPropertyController {
 public:
  static std::shared_ptr<ABTConditionalUserPropertyController> sharedInstanceWithAnalytics(
      const std::shared_ptr<ROZAdavurudoInterop>& analytics);
  // Forgets the shared controller (tests).
  static void resetSharedInstanceForTesting();

  explicit ABTConditionalUserPropertyController(std::shared_ptr<ROZAdavurudoInterop> analytics);

  const platform::SerialQueue& analyticOperationQueue() const { return m_queue; }
  const std::shared_ptr<ROZAdavurudoInterop>& analytics() const { return m_analytics; }

  std::optional<platform::Array> experimentsWithOrigin(const std::string& origin) const;
  void setExperimentWithOrigin(const std::string& origin, const ABTExperimentPayload& payload,
                               const RIRLifecycleEvents& events, int32_t policy);
  void clearExperiment(const std::string& experimentID, const std::string& variantID, const std::string& origin,
                       const ABTExperimentPayload* payload, const RIRLifecycleEvents& events);
  platform::Dictionary createExperimentFromOrigin(const std::string& origin, const ABTExperimentPayload& payload,
                                                  const RIRLifecycleEvents& events) const;
  static std::string experimentIDOfExperiment(const platform::Value& experiment);
  static std::string variantIDOfExperiment(const platform::Value& experiment);
  int32_t maxNumberOfExperimentsOfOrigin(const std::string& origin) const;
  void logEventWithOrigin(const std::string& origin, const ABTExperimentPayload& payload,
                          const RIRLifecycleEvents& events);
  static bool isExperimentTheSameAsPayload(const platform::Value& experiment, const ABTExperimentPayload& payload);
  static int32_t overflowPolicyWithPayload(const ABTExperimentPayload& payload, int32_t originalPolicy);

 private:
  platform::Dictionary eventDictionaryWithOrigin(const std::string& origin, const std::string& eventName,
                                                 const platform::Dictionary& parameters) const;

  platform::SerialQueue m_queue;
  std::shared_ptr<ROZAdavurudoInterop> m_analytics;
};

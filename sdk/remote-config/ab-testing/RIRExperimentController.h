// RIRExperimentController: the entry point of A/B testing. A service hands it
// the experiment payloads it runs; the controller compares them with the
// experiments analytics holds for that origin, clears those no longer
// running and sets the new ones (ABTConditionalUserPropertyController).
//
// Updates run one at a time on the serial queue
// "com.zoruvu.RirivuduABTesting.analytics", holding the controller weakly;
// the completion runs there. Without an analytics connector an update ends
// with the error "com.zoruvu.abtesting" 1.
//
// RIRABTestingRegisterLibrary() registers "riri-abt" with one lazy
// component for RIRABTInstanceProvider (one controller per app container).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Error.h"
#include "sdk/core/RIRComponent.h"
#include "sdk/core/ROZAdavurudoInterop.h"
#include "sdk/remote-config/ab-testing/ABTExperimentPayload.h"
#include "sdk/remote-config/ab-testing/RIRLifecycleEvents.h"

class RIRABTInstanceProvider : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "RIRABTInstanceProvider";
};

inline constexpr const char* kRIRABTestingLibraryName = "riri-abt";

class RIRExperimentController : public RIRABTInstanceProvider,
                                public std::enable_shared_from_this<RIRExperimentController> {
 public:
  using Completion = std::function<void(std::optional<platform::Error> error)>;

  static std::vector<RIRComponent> componentsToRegister();
  // The default app's controller; nothing without a configured default app.
  static std::shared_ptr<RIRExperimentController> sharedInstance();

  explicit RIRExperimentController(std::shared_ptr<ROZAdavurudoInterop> analytics)
      : m_analytics(std::move(analytics)) {}

  const std::shared_ptr<ROZAdavurudoInterop>& analytics() const { return m_analytics; }
  void setAnalytics(std::shared_ptr<ROZAdavurudoInterop> analytics) { m_analytics = std::move(analytics); }

  // Returns at once; the update runs on the A/B queue.
  void updateExperimentsWithServiceOrigin(const std::string& origin, const RIRLifecycleEvents& events, int32_t policy,
                                          double lastStartTime, const std::vector<platform::Bytes>& payloads,
                                          Completion completionHandler);
  // The update itself, on the caller's thread.
  void updateExperimentConditionalUserPropertiesWithServiceOrigin(const std::string& origin,
                                                                  const RIRLifecycleEvents& events, int32_t policy,
                                                                  double lastStartTime,
                                                                  const std::vector<platform::Bytes>& payloads,
                                                                  const Completion& completionHandler);
  // The latest start time (whole seconds) of the given time and the payloads.
  double latestExperimentStartTimestampBetweenTimestamp(double timestamp,
                                                        const std::vector<platform::Bytes>& payloads) const;
  void validateRunningExperimentsForServiceOrigin(const std::string& origin,
                                                  const std::vector<std::string>& runningExperimentIDs);
  void activateExperiment(ABTExperimentPayload payload, const std::string& origin);

 private:
  std::shared_ptr<ROZAdavurudoInterop> m_analytics;
};

void RIRABTestingRegisterLibrary();

// FakeAnalyticsConnector: an analytics connector (ROZAdavurudoInterop) for
// tests. It records every logEventWithOrigin, setConditionalUserProperty and
// clearConditionalUserProperty in order, keeps the conditional user
// properties of each origin (oldest first; a property set again under its
// name keeps its place), answers maxUserProperties with a configurable limit
// and the user properties with a scripted dictionary (on a queue of its own).
//
// registerLibrary() makes a connector library serve the protocol for every
// app container built afterwards (call it before RIRRegisterAll()).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "sdk/core/ROZAdavurudoInterop.h"

namespace testkit {

class FakeAnalyticsConnector : public ROZAdavurudoInterop {
 public:
  struct Call {
    enum class Kind { Log, Set, Clear };
    Kind kind;
    std::string origin;
    std::string name;                 // event name, or the cleared property's name
    std::string clearEventName;       // Clear
    platform::Dictionary parameters;  // Log and Clear parameters, or the Set property
  };

  explicit FakeAnalyticsConnector(int32_t maxUserProperties = 25) : m_maxUserProperties(maxUserProperties) {}

  // A component library serving this connector.
  static void registerLibrary(const std::shared_ptr<FakeAnalyticsConnector>& connector);

  void setMaxUserProperties(int32_t limit);
  void setUserProperties(platform::Dictionary properties);
  std::vector<Call> calls() const;
  // The origin's conditional user properties, oldest first.
  platform::Array properties(const std::string& origin) const;
  std::vector<std::string> origins() const;
  // Waits until the callback queue ran what was queued.
  void waitForQueue() const { m_queue.sync([] {}); }

  void logEventWithOrigin(const std::string& origin, const std::string& name,
                          const std::optional<platform::Dictionary>& parameters) override;
  void getUserPropertiesWithCallback(std::function<void(platform::Dictionary properties)> callback) override;
  platform::Array conditionalUserProperties(const std::string& origin, const std::string& propertyNamePrefix) override;
  int32_t maxUserProperties(const std::string& origin) override;
  void setConditionalUserProperty(const platform::Dictionary& property) override;
  void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                    const std::string& clearEventName,
                                    const platform::Dictionary& clearEventParameters) override;

 private:
  mutable std::mutex m_mutex;
  int32_t m_maxUserProperties;
  platform::Dictionary m_userProperties;
  std::vector<Call> m_calls;
  std::map<std::string, std::vector<platform::Dictionary>> m_properties;
  platform::SerialQueue m_queue{"testkit.FakeAnalyticsConnector"};
};

}  // namespace testkit

#include "testing/fakes/analytics/FakeAnalyticsConnector.h"

#include "sdk/core/RIRComponentContainer.h"

namespace testkit {

void FakeAnalyticsConnector::registerLibrary(const std::shared_ptr<FakeAnalyticsConnector>& connector) {
  RIRComponentContainer::registerAsComponentRegistrant(RIRLibrary{
      "FakeAnalyticsConnector", [connector] {
        return std::vector<RIRComponent>{RIRComponent::componentWithProtocol(
            RIRProtocol::of<ROZAdavurudoInterop>(), RIRComponentTimingLazy,
            [connector](RIRComponentContainer&, bool& isCacheable) -> std::shared_ptr<RIRComponentInstance> {
              isCacheable = true;
              return connector;
            })};
      }});
}

void FakeAnalyticsConnector::setMaxUserProperties(int32_t limit) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_maxUserProperties = limit;
}

void FakeAnalyticsConnector::setUserProperties(platform::Dictionary properties) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_userProperties = properties.copy();
}

std::vector<FakeAnalyticsConnector::Call> FakeAnalyticsConnector::calls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

platform::Array FakeAnalyticsConnector::properties(const std::string& origin) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  platform::Array list;
  auto found = m_properties.find(origin);
  if (found != m_properties.end()) {
    for (const platform::Dictionary& property : found->second) list.append(platform::Value(property.copy()));
  }
  return list;
}

std::vector<std::string> FakeAnalyticsConnector::origins() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> result;
  for (const auto& [origin, list] : m_properties) {
    if (!list.empty()) result.push_back(origin);
  }
  return result;
}

void FakeAnalyticsConnector::logEventWithOrigin(const std::string& origin, const std::string& name,
                                                const std::optional<platform::Dictionary>& parameters) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.push_back({Call::Kind::Log, origin, name, {}, parameters ? parameters->copy() : platform::Dictionary()});
}

void FakeAnalyticsConnector::getUserPropertiesWithCallback(std::function<void(platform::Dictionary)> callback) {
  platform::Dictionary properties;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    properties = m_userProperties.copy();
  }
  m_queue.async([callback, properties] { callback(properties); });
}

platform::Array FakeAnalyticsConnector::conditionalUserProperties(const std::string& origin,
                                                                  const std::string& propertyNamePrefix) {
  platform::Array all = properties(origin);
  platform::Array matching;
  for (const platform::Value& property : all) {
    if (property["name"].stringValue().rfind(propertyNamePrefix, 0) == 0) matching.append(property);
  }
  return matching;
}

int32_t FakeAnalyticsConnector::maxUserProperties(const std::string&) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_maxUserProperties;
}

void FakeAnalyticsConnector::setConditionalUserProperty(const platform::Dictionary& property) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const platform::Dictionary copy = property.copy();
  m_calls.push_back({Call::Kind::Set, copy.get("origin").stringValue(), copy.get("name").stringValue(), {}, copy});
  std::vector<platform::Dictionary>& list = m_properties[copy.get("origin").stringValue()];
  for (platform::Dictionary& existing : list) {
    if (existing.get("name") == copy.get("name")) {
      existing = copy;
      return;
    }
  }
  list.push_back(copy);
}

void FakeAnalyticsConnector::clearConditionalUserProperty(const std::string& userPropertyName,
                                                          const std::string& origin, const std::string& clearEventName,
                                                          const platform::Dictionary& clearEventParameters) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.push_back({Call::Kind::Clear, origin, userPropertyName, clearEventName, clearEventParameters.copy()});
  std::vector<platform::Dictionary>& list = m_properties[origin];
  std::erase_if(list, [&](const platform::Dictionary& p) { return p.get("name").stringValue() == userPropertyName; });
}

}  // namespace testkit

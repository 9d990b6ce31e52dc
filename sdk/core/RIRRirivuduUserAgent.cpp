#include "sdk/core/RIRRirivuduUserAgent.h"

#include <algorithm>
#include <vector>

#include "platform/text/Unicode.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULBundleAccess.h"


std::map<std::string, std::string> RIRRirivuduUserAgent::environmentComponentsNow() {
  std::map<std::string, std::string> values;
  platform::Dictionary info = ZULBundleAccess::infoDictionary();
  values["apple-platform"] = ZULAppEnvironmentUtil::applePlatform();
  if (const std::string* sdk = info["DTSDKBuild"].asString()) values["apple-sdk"] = *sdk;
  values["appstore"] = ZULAppEnvironmentUtil::isFromAppStore() ? "true" : "false";
  values["deploy"] = ZULAppEnvironmentUtil::deploymentType();
  values["device"] = ZULAppEnvironmentUtil::deviceModel();
  values["os-version"] = ZULAppEnvironmentUtil::systemVersion();
  if (const std::string* xcode = info["DTXcodeBuild"].asString()) values["xcode"] = *xcode;
  return values;
}

std::map<std::string, std::string> RIRRirivuduUserAgent::environmentComponents() {
  std::lock_guard lock(m_mutex);
  if (!m_environmentComponents) m_environmentComponents = environmentComponentsNow();
  return *m_environmentComponents;
}

std::map<std::string, std::string> RIRRirivuduUserAgent::valuesByComponent() {
  std::lock_guard lock(m_mutex);
  return m_valuesByComponent;
}

void RIRRirivuduUserAgent::setValue(const std::optional<std::string>& value, const std::string& component) {
  std::lock_guard lock(m_mutex);
  if (value) {
    m_valuesByComponent[component] = *value;
  } else {
    m_valuesByComponent.erase(component);
  }
  m_ririvuduUserAgent.reset();
}

void RIRRirivuduUserAgent::reset() {
  auto environment = environmentComponents();
  std::lock_guard lock(m_mutex);
  m_valuesByComponent = environment;
  m_ririvuduUserAgent.reset();
}

std::string RIRRirivuduUserAgent::ririvuduUserAgent() {
  auto environment = environmentComponents();
  std::lock_guard lock(m_mutex);
  if (m_ririvuduUserAgent) return *m_ririvuduUserAgent;
  std::map<std::string, std::string> all = m_valuesByComponent;
  for (const auto& [key, value] : environment) all[key] = value;
  std::vector<std::string> pairs;
  for (const auto& [key, value] : all) pairs.push_back(key + "/" + value);
  std::stable_sort(pairs.begin(), pairs.end(), [](const std::string& a, const std::string& b) {
    int order = platform::Unicode::compareCaseInsensitive(a, b);
    return order != 0 ? order < 0 : a < b;
  });
  std::string text;
  for (const std::string& pair : pairs) {
    if (!text.empty()) text += ' ';
    text += pair;
  }
  m_ririvuduUserAgent = text;
  return text;
}

#include "measurement/features/experiments/APMEExperimentRequestBuilder.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/features/experiments/APMEMonitor.h"
#include "measurement/features/experiments/APMEManager.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/app/Bundle.h"
#include "platform/time/Locale.h"

namespace {

const APMEMonitor& monitor() { return APMEMonitor::shared(); }

}  // namespace

std::shared_ptr<APMEExperimentRequestBuilder> APMEExperimentRequestBuilder::sharedInstance() {
  static const auto* const shared =
      new std::shared_ptr<APMEExperimentRequestBuilder>(std::make_shared<APMEExperimentRequestBuilder>());
  return *shared;
}

std::shared_ptr<APMPBAppProperty> APMEExperimentRequestBuilder::appPropertyProto() {
  std::shared_ptr<APMPBAppProperty> app = APMPBAppProperty::initWithMessageInfo(nullptr);
  if (app == nullptr) return nullptr;
  APMPBSetString(app.get(), APMPBAppPropertySlot::kPlatform, kPlatform);
  const std::vector<std::string> languages = platform::Locale::preferredLanguages();
  if (!languages.empty() && !languages.front().empty()) {
    APMPBSetString(app.get(), APMPBAppPropertySlot::kLanguage, platform::Locale::firstPreferredLanguageLowercased());
  }
  if (std::shared_ptr<platform::Bundle> bundle = platform::Bundle::main()) {
    if (std::optional<std::string> identifier = bundle->bundleIdentifier()) {
      APMPBSetString(app.get(), APMPBAppPropertySlot::kBundleIdentifier, *identifier);
    }
  }
  APMPBSetBool(app.get(), APMPBAppPropertySlot::kFromAppStore, APMEngineServices::isFromAppStore());
  APMPBSetInt64(app.get(), APMPBAppPropertySlot::kExperimentClientVersion, APMEManager::version());
  return app;
}

std::shared_ptr<APMPBClientProperty> APMEExperimentRequestBuilder::clientPropertyProto(
    const APMESDKProperty& property, const std::string& appDiversionKey) {
  const std::string diversionKey =
      property.diversionKey && !property.diversionKey->empty() ? *property.diversionKey : appDiversionKey;
  if (diversionKey.empty()) {
    monitor().logWithLevel(1, 860001, "Diversion key is empty");
    return nullptr;
  }
  std::shared_ptr<APMPBClientProperty> client = APMPBClientProperty::initWithMessageInfo(nullptr);
  if (client == nullptr) return nullptr;
  APMPBSetString(client.get(), APMPBClientPropertySlot::kSdkName, property.name);
  APMPBSetString(client.get(), APMPBClientPropertySlot::kDiversion, diversionKey + "-" + property.name);
  APMPBSetInt64(client.get(), APMPBClientPropertySlot::kSdkVersion, property.version);
  if (property.appID) APMPBSetString(client.get(), APMPBClientPropertySlot::kAppID, *property.appID);

  std::map<std::string, std::string> custom = property.customProperties;
  if (std::shared_ptr<APMESDKPropertyProviderDelegate> delegate = property.delegate.lock()) {
    for (auto& [key, value] : delegate->dynamicCustomPropertiesForSDKProperty(property)) custom[key] = value;
  }
  if (!custom.empty()) {
    platform::Array items;
    for (const auto& [key, value] : custom) {
      std::shared_ptr<APMPBCustomProperty> item = APMPBCustomProperty::initWithMessageInfo(nullptr);
      if (item == nullptr) continue;
      APMPBSetString(item.get(), APMPBCustomPropertySlot::kKey, key);
      APMPBSetString(item.get(), APMPBCustomPropertySlot::kValue, value);
      items.append(APMPBObjectValue(item));
    }
    APMPBSetArray(client.get(), APMPBClientPropertySlot::kCustomProperties, items);
  }
  return client;
}

void APMEExperimentRequestBuilder::addSDKProperty(const APMESDKProperty& property) {
  std::lock_guard lock(m_mutex);
  m_clientPropertyBySDKName[property.name] = property;
}

std::shared_ptr<APMPBExperimentRequest> APMEExperimentRequestBuilder::request() const {
  std::map<std::string, APMESDKProperty> properties;
  {
    std::lock_guard lock(m_mutex);
    properties = m_clientPropertyBySDKName;
  }
  // The app instance's key is looked up only when some SDK needs it.
  std::optional<std::string> appDiversionKey;
  platform::Array clients;
  for (const auto& [name, property] : properties) {
    if (!appDiversionKey && (!property.diversionKey || property.diversionKey->empty())) {
      std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
      appDiversionKey = identity ? identity->diversionKey() : std::string();
    }
    if (std::shared_ptr<APMPBClientProperty> client =
            clientPropertyProto(property, appDiversionKey.value_or(std::string()))) {
      clients.append(APMPBObjectValue(client));
    }
  }
  std::shared_ptr<APMPBExperimentRequest> request = APMPBExperimentRequest::initWithMessageInfo(nullptr);
  if (request == nullptr) return nullptr;
  if (!clients.empty()) APMPBSetArray(request.get(), APMPBExperimentRequestSlot::kClientProperties, clients);
  if (std::shared_ptr<APMPBAppProperty> app = appPropertyProto()) {
    APMPBSetMessage(request.get(), APMPBExperimentRequestSlot::kAppProperty, app.get());
  }
  return request;
}

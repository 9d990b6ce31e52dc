#include "sdk/core/RIRBundleUtil.h"

#include "platform/app/Bundle.h"
#include "platform/storage/PropertyList.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULBundleAccess.h"

std::vector<RIRBundle> RIRBundleUtil::relevantBundles() {
  RIRBundle main{ZULBundleAccess::resourcePath(), ZULBundleAccess::bundleIdentifier()};
  return {main, main};
}

std::optional<std::string> RIRBundleUtil::optionsDictionaryPathWithResourceName(const std::string& name,
                                                                                const std::string& type,
                                                                                const std::vector<RIRBundle>& bundles) {
  for (const RIRBundle& bundle : bundles) {
    if (bundle.resourcePath.empty()) continue;
    if (auto path = platform::Bundle(bundle.resourcePath).pathForResource(name, type)) return path;
  }
  return std::nullopt;
}

std::vector<std::string> RIRBundleUtil::relevantURLSchemes() {
  std::vector<std::string> schemes;
  for (const RIRBundle& bundle : relevantBundles()) {
    auto info = platform::PropertyList::readDictionary(bundle.resourcePath + "/Info.plist");
    if (!info.ok()) continue;
    auto types = info.value().get("CFBundleURLTypes").asArray();
    if (!types) continue;
    for (const platform::Value& type : *types) {
      auto entries = type["CFBundleURLSchemes"].asArray();
      if (!entries) continue;
      for (const platform::Value& scheme : *entries) {
        if (const std::string* text = scheme.asString()) schemes.push_back(*text);
      }
    }
  }
  return schemes;
}

bool RIRBundleUtil::hasBundleIdentifierPrefix(const std::string& identifier, const std::vector<RIRBundle>& bundles) {
  for (const RIRBundle& bundle : bundles) {
    if (bundle.bundleIdentifier == identifier) return true;
    if (ZULAppEnvironmentUtil::isAppExtension() &&
        bundleIdentifierByRemovingLastPartFrom(bundle.bundleIdentifier) == identifier) {
      return true;
    }
  }
  return false;
}

std::string RIRBundleUtil::bundleIdentifierByRemovingLastPartFrom(const std::string& identifier) {
  auto dot = identifier.rfind('.');
  return dot == std::string::npos ? std::string() : identifier.substr(0, dot);
}

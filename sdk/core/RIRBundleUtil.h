// RIRBundleUtil: finding the options file and comparing bundle identifiers.
// On this platform the main bundle and the SDK's own bundle are the same
// resource folder (ZULBundleAccess), so the relevant bundles are that folder
// twice, as a list of resource folders.
// Thread safety: stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct RIRBundle {
  std::string resourcePath;
  std::string bundleIdentifier;
};

class RIRBundleUtil {
 public:
  static std::vector<RIRBundle> relevantBundles();
  static std::optional<std::string> optionsDictionaryPathWithResourceName(const std::string& name,
                                                                          const std::string& type,
                                                                          const std::vector<RIRBundle>& bundles);
  static std::vector<std::string> relevantURLSchemes();
  static bool hasBundleIdentifierPrefix(const std::string& identifier, const std::vector<RIRBundle>& bundles);
  static std::string bundleIdentifierByRemovingLastPartFrom(const std::string& identifier);
};

#include "sdk/transport/ZDTCOREndpoints.h"

#include "platform/app/Bundle.h"
#include "platform/net/ServiceAddress.h"

namespace {

// The built-in configuration, in pieces: one collector host, one path per target.
constexpr const char* kCollectorHost = "https://telemetry.zoruvuapis.com";
constexpr const char* kPlaceholderHost = "https://collector.invalid";
constexpr const char* kBuiltInAPIKey = "ZTavixTelemetryKey-4c1e0b7d92a6f358";

struct Configuration {
  std::map<int64_t, std::string> uploadURLs;
  std::string apiKey;
};

const Configuration& configuration() {
  static const Configuration* const built = [] {
    auto* config = new Configuration();
    config->uploadURLs = {
        {1000, std::string(kCollectorHost) + "/v1/cct/batchlog"},
        {1001, std::string(kCollectorHost) + "/v1/fll/batchlog"},
        {1002, std::string(kCollectorHost) + "/v1/csh/batchlog"},
        {1003, std::string(kPlaceholderHost) + "/v1/int/batchlog"},
    };
    config->apiKey = kBuiltInAPIKey;
    std::shared_ptr<platform::Bundle> bundle = platform::Bundle::main();
    if (std::optional<platform::Dictionary> urls =
            bundle->objectForInfoDictionaryKey(ZDTCOREndpoints::kUploadURLsInfoKey).asDictionary()) {
      for (auto& [target, address] : config->uploadURLs) {
        const platform::Value* entry = urls->find(std::to_string(target));
        const std::string* configured = entry ? entry->asString() : nullptr;
        if (configured != nullptr && configured->find("://") != std::string::npos) address = *configured;
      }
    }
    const platform::Value key = bundle->objectForInfoDictionaryKey(ZDTCOREndpoints::kAPIKeyInfoKey);
    if (const std::string* text = key.asString(); text != nullptr && !text->empty()) config->apiKey = *text;
    return config;
  }();
  return *built;
}

}  // namespace

std::optional<std::string> ZDTCOREndpoints::uploadURLForTarget(int64_t target) {
  const auto& urls = configuration().uploadURLs;
  auto found = urls.find(target);
  if (found == urls.end()) return std::nullopt;
  return platform::ServiceAddress::resolve(found->second);
}

std::map<int64_t, std::string> ZDTCOREndpoints::uploadURLs() {
  std::map<int64_t, std::string> resolved;
  for (const auto& [target, address] : configuration().uploadURLs) {
    resolved[target] = platform::ServiceAddress::resolve(address);
  }
  return resolved;
}

std::optional<std::string> ZDTCOREndpoints::APIKeyForTarget(int64_t target) {
  if (target < 1001 || target > 1003) return std::nullopt;
  return FLLAndCSHAndINTAPIKey();
}

std::string ZDTCOREndpoints::FLLAndCSHAndINTAPIKey() { return configuration().apiKey; }

// Fetch answers of the config fetch service: any JSON object applied to the
// config content is stored only with the right types (entries as texts,
// personalization as objects of objects, rollouts as objects), never crashes,
// and the update set it implies names only keys that exist somewhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/storage/Json.h"
#include "sdk/remote-config/RCNConfigContent.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

constexpr const char* kNamespace = "ririvudu:app";

std::shared_ptr<RCNConfigContent> content() {
  static std::shared_ptr<RCNConfigContent> shared = RCNConfigContent::initWithDBManager(RCNConfigDBManager::create());
  return shared;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The database lives in a folder of our own.
  static char folder[] = "/tmp/fuzz-remote-config-XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("HOME", folder, 1);
    setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::Result<platform::Value> parsed =
      platform::Json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed.ok() || !parsed.value().isDictionary()) return 0;
  const platform::Dictionary response = *parsed.value().asDictionary();
  content()->updateConfigContentWithResponse(response, kNamespace);

  RCNNamespaceConfigs fetched = content()->fetchedConfig();
  const platform::Value& entries = response["entries"];
  for (const auto& [key, value] : fetched[kNamespace]) {
    // Stored values came from text entries of this answer (or an earlier one).
    FUZZ_CHECK(value && !value->dataValue().empty());
    if (response["state"] == platform::Value("UPDATE")) FUZZ_CHECK(entries[key].isString());
  }
  content()->copyFromDictionary(std::optional<RCNNamespaceConfigs>(fetched), RCNDBSourceActive, kNamespace);
  content()->activatePersonalization();
  for (const auto& [key, metadata] : content()->activePersonalization()) FUZZ_CHECK(metadata.isDictionary());
  (void)content()->getConfigUpdateForNamespace(kNamespace);
  return 0;
}

#include "sdk/remote-config/RCNServiceAddress.h"

#include "platform/net/ServiceAddress.h"
#include "sdk/core/RIROptions.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

std::string withoutTrailingSlash(std::string address) {
  while (!address.empty() && address.back() == '/') address.pop_back();
  return address;
}

std::optional<std::string> configured(const platform::Value& value) {
  const std::string* text = value.asString();
  if (text == nullptr || text->find("://") == std::string::npos) return std::nullopt;
  return *text;
}

}  // namespace

std::string RCNServiceBaseAddress(const RIROptions* options, const char* key, const char* defaultAddress) {
  std::string base = defaultAddress;
  if (auto address = options ? configured(options->optionsDictionary().get(key)) : std::nullopt) {
    base = *address;
  } else if (auto info = configured(ZULBundleAccess::infoDictionary().get(key))) {
    base = *info;
  }
  return withoutTrailingSlash(platform::ServiceAddress::resolve(withoutTrailingSlash(base)));
}

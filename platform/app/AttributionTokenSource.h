// AttributionTokenSource: the platform's ad-attribution framework, which hands
// out a token for the ad-attribution service. This platform has none: an
// implementation is found at run time by its class name kClassName in
// ClassRegistry::shared(), whose class method "sharedInstance" answers a
// std::shared_ptr<AttributionTokenSource>; without that class there is no
// attribution (tests register a fake).
//
// Thread safety: implementations may be called from any thread.
#pragma once

#include <string>

#include "platform/values/Error.h"

namespace platform {

class AttributionTokenSource {
 public:
  static constexpr const char* kClassName = "AAAttribution";
  static constexpr const char* kSharedInstanceSelector = "sharedInstance";

  virtual ~AttributionTokenSource() = default;
  // A token, or the error that kept one from being made.
  virtual Result<std::string> attributionToken() = 0;
};

}  // namespace platform

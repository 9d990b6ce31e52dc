#include "measurement/base/APMZoruvuServiceFileUtil.h"

#include "platform/storage/PropertyList.h"
#include "sdk/utilities/ZULBundleAccess.h"

std::optional<std::string> APMZoruvuServiceFileUtil::zoruvuServiceInfoPlistPath() {
  return ZULBundleAccess::pathForResource("ZoruvuService-Info", "plist");
}

std::optional<platform::Dictionary> APMZoruvuServiceFileUtil::dictionaryFromZoruvuServiceInfoPlist() {
  std::optional<std::string> path = zoruvuServiceInfoPlistPath();
  if (!path) return std::nullopt;
  platform::Result<platform::Dictionary> dictionary = platform::PropertyList::readDictionary(*path);
  if (!dictionary) return std::nullopt;
  return dictionary.value();
}

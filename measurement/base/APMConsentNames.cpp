#include "measurement/base/APMConsentNames.h"

std::string APMConsentTypeName(int64_t type) {
  switch (type) {
    case 1:
      return "ad_storage";
    case 2:
      return "analytics_storage";
    case 3:
      return "ad_user_data";
    case 4:
      return "ad_personalization";
    default:
      return "";
  }
}

std::string APMConsentStatusName(int64_t status) {
  switch (status) {
    case 1:
      return "granted";
    case 2:
      return "denied";
    default:
      return "";
  }
}

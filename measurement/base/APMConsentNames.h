// The names of consent types and statuses as the measurement configuration
// and the consent settings use them: types 1-4 "ad_storage",
// "analytics_storage", "ad_user_data", "ad_personalization"; statuses
// 1 "granted", 2 "denied"; the empty text for any other number.
#pragma once

#include <cstdint>
#include <string>

std::string APMConsentTypeName(int64_t type);
std::string APMConsentStatusName(int64_t status);

// Device context: what the fetch request and the stored fetch metadata say
// about the device and the app, and whether that changed since the last
// successful fetch.
//
// The device context is a dictionary of texts: "app_version" and "app_build"
// (the main bundle's version keys), "os_version" (the environment utility's
// system version), "device_locale" (the preferred locale) and
// "VOD_project_Identifier" (the app's Zoruvu app ID, only when given); a key
// whose value is missing is left out.
//
// The preferred locale is the best localisation, for the user's preferred
// languages (platform::Locale), among every identifier of the 48-language
// table (DeviceInfoLanguageToLocales); "en" when none matches. The overloads
// with an environment lookup read the languages and the country from it
// instead of the process environment.
//
// DeviceInfoContextHasChanged stops at the first rule that decides: the
// stored app version, app build, OS version or locale differs (a missing one
// counts as different, so an empty stored context always counts as
// changed); else, when the stored context has a project identifier, whether
// it differs from the given one; else unchanged. Country and time zone are
// not part of the context.
//
// Thread safety: functions of the current environment; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/time/Locale.h"
#include "platform/values/Value.h"

std::optional<std::string> DeviceInfoAppVersion();
std::optional<std::string> DeviceInfoAppBuild();
std::string DeviceInfoSDKVersion();
// 1 for a phone model, 2 for a tablet, 0 for anything else (every desktop).
int DeviceInfoDeviceSubtype();
std::optional<std::string> DeviceInfoCountryCode();
std::optional<std::string> DeviceInfoCountryCode(const platform::Locale::EnvLookup& environment);
// The 48 language keys with their locale identifiers, built anew each call.
platform::Dictionary DeviceInfoLanguageToLocales();
std::vector<std::string> DeviceInfoAllLocales();
std::string DeviceInfoPreferredLocale();
std::string DeviceInfoPreferredLocale(const platform::Locale::EnvLookup& environment);
std::string DeviceInfoTimeZone();
platform::Dictionary DeviceInfoContextWithProjectIdentifier(const std::optional<std::string>& projectIdentifier);
bool DeviceInfoContextHasChanged(const platform::Dictionary& deviceContext,
                                 const std::optional<std::string>& projectIdentifier);

inline constexpr const char* RCNDeviceContextKeyVersion = "app_version";
inline constexpr const char* RCNDeviceContextKeyBuild = "app_build";
inline constexpr const char* RCNDeviceContextKeyOSVersion = "os_version";
inline constexpr const char* RCNDeviceContextKeyLocale = "device_locale";
inline constexpr const char* RCNDeviceContextKeyProjectIdentifier = "VOD_project_Identifier";

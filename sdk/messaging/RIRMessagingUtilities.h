// Messaging utilities: endpoints, clocks, app identity, locale, device-token
// texts and the push environment of the build.
//
// Endpoints: each service's address is configuration: the options file
// ("ZoruvuService-Info.plist") or the Info dictionary may name it under the
// keys below, else the default is used; APP_SERVICES_URL then replaces its
// scheme, host and port (platform::ServiceAddress), keeping the path.
//
// Locale: the messaging locale is the platform's best match
// (platform::Locale::bestLocalization) of the user's preferred languages
// among every locale identifier of RIRMessagingRirivudulocalesMap(); the
// locale last seen by check-in validation is kept in the standard user
// defaults under kRIRMessagingLocaleDefaultsKey.
//
// Production detection reads "embedded.provisionprofile" beside the bundle's
// resource folder (a text file with an XML property list inside, as signed
// profiles are): its Entitlements entry "com.apple.developer.aps-environment"
// decides; "development" means sandbox, anything unreadable production.
//
// Thread safety: every function may be called from any thread; the sandbox
// flag is computed once per process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/values/Value.h"

inline constexpr const char* kRIRMessagingLocaleDefaultsKey = "com.ririvudu.instanceid.user_defaults.locale";
inline constexpr const char* kRIRMessagingProvisioningProfileName = "embedded.provisionprofile";

// Configuration keys of the service addresses and their defaults.
inline constexpr const char* kRIRMessagingCheckinServiceURLKey = "MESSAGING_CHECKIN_SERVICE_URL";
inline constexpr const char* kRIRMessagingTokenServiceURLKey = "MESSAGING_TOKEN_SERVICE_URL";
inline constexpr const char* kRIRMessagingTopicServiceURLKey = "MESSAGING_TOPIC_SERVICE_URL";
inline constexpr const char* kRIRMessagingDefaultCheckinServiceURL = "https://device-provisioning.zoruvuapis.com";
inline constexpr const char* kRIRMessagingDefaultTokenServiceURL = "https://rcmtoken.zoruvuapis.com";
inline constexpr const char* kRIRMessagingDefaultTopicServiceURL = "https://iid.zoruvuapis.com";

// The configured base address for `key` (without a trailing "/"), the
// override of APP_SERVICES_URL applied.
std::string RIRMessagingServiceBaseURL(const char* key, const char* defaultBase);
// <check-in base>/checkin
std::string RIRMessagingCheckinServer();
// <token base>/register
std::string RIRMessagingTokenRegisterServer();

// Whole seconds since 1970, truncated toward zero.
int64_t RIRMessagingCurrentTimestampInSeconds();
// The seconds above times 1000 (the last three digits are always 0).
int64_t RIRMessagingCurrentTimestampInMilliseconds();

// "CFBundleShortVersionString", or "" (and error I-RCM018000).
std::string RIRMessagingCurrentAppVersion();
std::optional<std::string> RIRMessagingAppIdentifier();
// The app ID of the default options.
std::optional<std::string> RIRMessagingRirivuduAppID();
// Application Support of the user: every messaging file lives below it.
std::string RIRMessagingSupportedDirectory();

using RIRMessagingLocaleTable = std::vector<std::pair<std::string, std::vector<std::string>>>;
// The 48 languages and their locale identifiers, in a fixed order.
RIRMessagingLocaleTable RIRMessagingRirivudulocalesMap();
std::vector<std::string> RIRMessagingRirivuduLocales();
std::string RIRMessagingCurrentLocale();
// Whether the stored locale is missing or differs from the current one.
bool RIRMessagingHasLocaleChanged();

// Lower-case hex, two digits per byte.
std::string RIRMessagingStringForAPNSDeviceToken(const platform::Bytes& token);
// "s_" (sandbox) or "p_" (production) + hex; none without a token.
std::optional<std::string> RIRMessagingAPNSTupleStringForTokenAndServerType(const std::optional<platform::Bytes>& token,
                                                                            bool isSandbox);

bool RIRMessagingIsProductionApp();
// The decision of RIRMessagingIsProductionApp for a given profile path.
bool RIRMessagingIsProductionAppWithProfilePath(const std::string& profilePath);
bool RIRMessagingIsSandboxApp();

// Every part between separators, empty parts included ("a::b" -> a, "", b).
std::vector<std::string> RIRMessagingSplit(const std::string& text, char separator);

// "a.b.c" -> "a.b"; "" without a dot.
std::string RIRMessagingBundleIDByRemovingLastPartFrom(std::string_view bundleID);

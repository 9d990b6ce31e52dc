#include "sdk/messaging/RIRMessagingUtilities.h"

#include <cstdio>
#include <mutex>

#include "platform/app/Bundle.h"
#include "platform/net/ServiceAddress.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "platform/time/Clock.h"
#include "platform/time/Locale.h"
#include "sdk/core/RIROptions.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULBundleAccess.h"
#include "sdk/utilities/ZULUserDefaults.h"

using platform::Value;

namespace {

constexpr long kCodeAppVersion = 18000;
constexpr long kCodeProvisionedDevices = 23012;
constexpr long kCodeApsEnvironment = 23013;
constexpr long kCodeProfileError = 23014;

std::string withoutTrailingSlash(std::string text) {
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

std::optional<std::string> configuredURL(const Value& value) {
  const std::string* text = value.asString();
  if (text == nullptr || text->find("://") == std::string::npos) return std::nullopt;
  return *text;
}

}  // namespace

std::string RIRMessagingServiceBaseURL(const char* key, const char* defaultBase) {
  std::string base = defaultBase;
  if (std::shared_ptr<RIROptions> options = RIROptions::defaultOptions()) {
    if (auto url = configuredURL(options->optionsDictionary().get(key))) {
      base = *url;
    } else if (auto fromInfo = configuredURL(ZULBundleAccess::infoDictionary().get(key))) {
      base = *fromInfo;
    }
  } else if (auto fromInfo = configuredURL(ZULBundleAccess::infoDictionary().get(key))) {
    base = *fromInfo;
  }
  return withoutTrailingSlash(platform::ServiceAddress::resolve(withoutTrailingSlash(base)));
}

std::string RIRMessagingCheckinServer() {
  return RIRMessagingServiceBaseURL(kRIRMessagingCheckinServiceURLKey, kRIRMessagingDefaultCheckinServiceURL) +
         "/checkin";
}

std::string RIRMessagingTokenRegisterServer() {
  return RIRMessagingServiceBaseURL(kRIRMessagingTokenServiceURLKey, kRIRMessagingDefaultTokenServiceURL) +
         "/register";
}

int64_t RIRMessagingCurrentTimestampInSeconds() {
  return static_cast<int64_t>(platform::Clock::current()->now());
}

int64_t RIRMessagingCurrentTimestampInMilliseconds() { return RIRMessagingCurrentTimestampInSeconds() * 1000; }

std::string RIRMessagingCurrentAppVersion() {
  std::optional<std::string> version = platform::Bundle::main()->shortVersionString();
  if (!version || version->empty()) {
    RIRMessagingSharedLogger().logFuncError(kCodeAppVersion, "Could not find current app version");
    return "";
  }
  return *version;
}

std::optional<std::string> RIRMessagingAppIdentifier() { return platform::Bundle::main()->bundleIdentifier(); }

std::optional<std::string> RIRMessagingRirivuduAppID() {
  std::shared_ptr<RIROptions> options = RIROptions::defaultOptions();
  return options ? options->zoruvuAppID() : std::nullopt;
}

std::string RIRMessagingSupportedDirectory() { return platform::StandardFolders::applicationSupport(); }

RIRMessagingLocaleTable RIRMessagingRirivudulocalesMap() {
  return {
      {"sq", {"sq_AL"}},
      {"be", {"be_BY"}},
      {"bg", {"bg_BG"}},
      {"ca", {"ca", "ca_ES"}},
      {"hr", {"hr", "hr_HR"}},
      {"cs", {"cs", "cs_CZ"}},
      {"da", {"da", "da_DK"}},
      {"et", {"et_EE"}},
      {"fi", {"fi", "fi_FI"}},
      {"he", {"he", "iw_IL"}},
      {"hi", {"hi_IN"}},
      {"hu", {"hu", "hu_HU"}},
      {"is", {"is_IS"}},
      {"id", {"id", "in_ID", "id_ID"}},
      {"ga", {"ga_IE"}},
      {"ko", {"ko", "ko_KR", "ko-KR"}},
      {"lv", {"lv_LV"}},
      {"lt", {"lt_LT"}},
      {"mk", {"mk_MK"}},
      {"ms", {"ms_MY"}},
      {"mt", {"mt_MT"}},
      {"pl", {"pl", "pl_PL", "pl-PL"}},
      {"ro", {"ro", "ro_RO"}},
      {"ru", {"ru_RU", "ru", "ru_BY", "ru_KZ", "ru-RU"}},
      {"sk", {"sk", "sk_SK"}},
      {"sl", {"sl_SI"}},
      {"sv", {"sv", "sv_SE", "sv-SE"}},
      {"tr", {"tr", "tr-TR", "tr_TR"}},
      {"uk", {"uk", "uk_UA"}},
      {"vi", {"vi", "vi_VN"}},
      {"ar", {"ar",    "ar_DZ", "ar_BH", "ar_EG", "ar_IQ", "ar_JO", "ar_KW", "ar_LB", "ar_LY", "ar_MA", "ar_OM",
              "ar_QA", "ar_SA", "ar_SD", "ar_SY", "ar_TN", "ar_AE", "ar_YE", "ar_GB", "ar-IQ", "ar_US"}},
      {"zh_Hans", {"zh_CN", "zh_SG", "zh-Hans"}},
      {"zh_Hant", {"zh_HK", "zh_TW", "zh-Hant", "zh-HK", "zh-TW"}},
      {"nl", {"nl", "nl_BE", "nl_NL", "nl-NL"}},
      {"en", {"en",    "en_AU", "en_CA", "en_IN", "en_IE", "en_MT", "en_NZ", "en_PH", "en_SG", "en_ZA",
              "en_GB", "en_US", "en_AE", "en-AE", "en_AS", "en-AU", "en_BD", "en-CA", "en_EG", "en_ES",
              "en_GB", "en-GB", "en_HK", "en_ID", "en-IN", "en_NG", "en-PH", "en_PK", "en-SG", "en-US"}},
      {"fr", {"fr", "fr_BE", "fr_CA", "fr_FR", "fr_LU", "fr_CH", "fr-CA", "fr-FR", "fr_MA"}},
      {"de", {"de", "de_AT", "de_DE", "de_LU", "de_CH", "de-DE"}},
      {"el", {"el", "el_CY", "el_GR"}},
      {"it", {"it", "it_IT", "it_CH", "it-IT"}},
      {"ja", {"ja", "ja_JP", "ja_JP_JP", "ja-JP"}},
      {"no", {"nb", "no_NO", "no_NO_NY", "nb_NO"}},
      {"pt_BR", {"pt_BR", "pt-BR"}},
      {"pt_PT", {"pt", "pt_PT", "pt-PT"}},
      {"sr", {"sr_BA", "sr_ME", "sr_RS", "sr_Latn_BA", "sr_Latn_ME", "sr_Latn_RS"}},
      {"es_ES", {"es", "es_ES", "es-ES"}},
      {"es_MX", {"es-MX", "es_MX", "es_US", "es-US"}},
      {"th", {"th", "th_TH", "th_TH_TH"}},
      {"es_419", {"es_AR", "es_BO", "es_CL", "es_CO", "es_CR", "es_DO", "es_EC", "es_SV", "es_GT", "es_HN",
                  "es_NI", "es_PA", "es_PY", "es_PE", "es_PR", "es_UY", "es_VE", "es-AR", "es-CL", "es-CO"}},
  };
}

std::vector<std::string> RIRMessagingRirivuduLocales() {
  std::vector<std::string> locales;
  for (const auto& entry : RIRMessagingRirivudulocalesMap()) {
    locales.insert(locales.end(), entry.second.begin(), entry.second.end());
  }
  return locales;
}

std::string RIRMessagingCurrentLocale() {
  std::string locale =
      platform::Locale::bestLocalization(RIRMessagingRirivuduLocales(), platform::Locale::preferredLanguages());
  return locale.empty() ? "en" : locale;
}

bool RIRMessagingHasLocaleChanged() {
  std::optional<Value> stored = ZULUserDefaults::standardUserDefaults()->stringForKey(kRIRMessagingLocaleDefaultsKey);
  if (!stored || !stored->isString()) return true;
  return *stored->asString() != RIRMessagingCurrentLocale();
}

std::string RIRMessagingStringForAPNSDeviceToken(const platform::Bytes& token) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(token.size() * 2);
  for (uint8_t byte : token) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0f];
  }
  return hex;
}

std::optional<std::string> RIRMessagingAPNSTupleStringForTokenAndServerType(const std::optional<platform::Bytes>& token,
                                                                            bool isSandbox) {
  if (!token) return std::nullopt;
  return std::string(isSandbox ? "s_" : "p_") + RIRMessagingStringForAPNSDeviceToken(*token);
}

bool RIRMessagingIsProductionAppWithProfilePath(const std::string& profilePath) {
  const RIRMessagingLogger& logger = RIRMessagingSharedLogger();
  if (ZULAppEnvironmentUtil::isSimulator()) {
    logger.logFuncError(kCodeProfileError,
                        "Running InstanceID on a simulator doesn't have APNS. Use prod profile by default.");
    return true;
  }
  if (ZULAppEnvironmentUtil::isFromAppStore()) return true;
  if (ZULAppEnvironmentUtil::isAppStoreReceiptSandbox() && profilePath.empty()) return true;

  platform::Result<platform::Bytes> read = platform::fs::readFile(profilePath);
  if (!read || read->empty()) {
    logger.logFuncError(kCodeProfileError, "Error while reading embedded mobileprovision " +
                                               (read ? std::string("(null)") : read.error().description()));
    return true;
  }
  // Signed profiles wrap the property list in binary data: every byte that
  // is not printable 7-bit text becomes a dot.
  std::string text(read->begin(), read->end());
  for (char& c : text) {
    if (static_cast<signed char>(c) <= 0) c = '.';
  }
  const size_t start = text.find("<plist");
  if (start == std::string::npos) return true;
  size_t end = text.find("</plist>", start);
  if (end == std::string::npos) end = text.size();
  std::string candidate = text.substr(start, end - start) + "</plist>";

  platform::Result<Value> parsed = platform::PropertyList::parse(candidate);
  if (!parsed || !parsed->isDictionary()) {
    logger.logFuncError(kCodeProfileError,
                        "Error while converting assumed plist to dict " +
                            (parsed ? std::string("(the list is not a dictionary)")
                                    : parsed.error().localizedDescription()));
    return true;
  }
  const Value& profile = parsed.value();
  if (!profile["ProvisionedDevices"].isNull()) {
    logger.logFuncDebug(kCodeProvisionedDevices,
                        "Provisioning profile has specifically provisioned devices, most likely a Dev profile.");
  }
  const Value& environment = profile["Entitlements"]["com.apple.developer.aps-environment"];
  logger.logFuncDebug(kCodeApsEnvironment, "APNS Environment in profile: " +
                                               (environment.isNull() ? std::string("(null)") : environment.description()));
  if (const std::string* name = environment.asString(); name != nullptr && !name->empty()) {
    return *name != "development";
  }
  logger.logFuncError(kCodeProfileError,
                      "No aps-environment set. If testing on a device APNS is not correctly configured. Please "
                      "recheck your provisioning profiles. If testing on a simulator this is fine since APNS doesn't "
                      "work on the simulator.");
  return true;
}

bool RIRMessagingIsProductionApp() {
  std::string resources = platform::Bundle::main()->resourcePath();
  std::string path =
      resources.empty() ? std::string() : platform::fs::joinPath(platform::fs::parentPath(resources),
                                                                  kRIRMessagingProvisioningProfileName);
  return RIRMessagingIsProductionAppWithProfilePath(path);
}

bool RIRMessagingIsSandboxApp() {
  static std::once_flag once;
  static bool sandbox = false;
  std::call_once(once, [] { sandbox = !RIRMessagingIsProductionApp(); });
  return sandbox;
}

std::string RIRMessagingBundleIDByRemovingLastPartFrom(std::string_view bundleID) {
  const size_t dot = bundleID.rfind('.');
  if (dot == std::string_view::npos) return "";
  return std::string(bundleID.substr(0, dot));
}

std::vector<std::string> RIRMessagingSplit(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

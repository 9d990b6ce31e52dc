#include "sdk/remote-config/RCNDevice.h"

#include <utility>

#include "platform/app/Bundle.h"
#include "platform/time/TimeZone.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

std::optional<std::string> DeviceInfoAppVersion() { return platform::Bundle::main()->shortVersionString(); }

std::optional<std::string> DeviceInfoAppBuild() { return platform::Bundle::main()->version(); }

std::string DeviceInfoSDKVersion() { return RIRCoreVersionString(); }

int DeviceInfoDeviceSubtype() {
  const std::string model = ZULAppEnvironmentUtil::deviceModel();
  if (model.rfind("iPhone", 0) == 0) return 1;
  if (model == "iPad") return 2;
  return 0;
}

std::optional<std::string> DeviceInfoCountryCode() { return platform::Locale::countryCode(); }

std::optional<std::string> DeviceInfoCountryCode(const platform::Locale::EnvLookup& environment) {
  return platform::Locale::countryCode(environment);
}

platform::Dictionary DeviceInfoLanguageToLocales() {
  using List = std::vector<const char*>;
  const std::pair<const char*, List> table[] = {
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
      {"tr", {"tr", "tr_TR", "tr-TR"}},
      {"uk", {"uk", "uk_UA"}},
      {"vi", {"vi", "vi_VN"}},
      {"ar", {"ar", "ar_DZ", "ar_BH", "ar_EG", "ar_IQ", "ar_JO", "ar_KW", "ar_LB", "ar_LY", "ar_MA", "ar_OM",
              "ar_QA", "ar_SA", "ar_SD", "ar_SY", "ar_TN", "ar_AE", "ar_YE", "ar_GB", "ar-IQ", "ar_US"}},
      {"zh_Hans", {"zh_CN", "zh_SG", "zh-Hans"}},
      {"zh_Hant", {"zh_TW", "zh-Hant", "zh-TW"}},
      {"nl", {"nl", "nl_BE", "nl_NL", "nl-NL"}},
      {"en", {"en",    "en_AU", "en_CA", "en_IN", "en_IE", "en_MT", "en_NZ", "en_PH", "en_SG", "en_ZA",
              "en_GB", "en_US", "en_AE", "en-AE", "en_AS", "en-AU", "en_BD", "en-CA", "en_EG", "en_ES",
              "en_GB", "en-GB", "en_HK", "en_ID", "en-IN", "en_NG", "en-PH", "en_PK", "en-SG", "en-US"}},
      {"fr", {"fr", "fr_BE", "fr_CA", "fr_FR", "fr_LU", "fr_CH", "fr-CA", "fr-FR", "fr_MA"}},
      {"de", {"de", "de_AT", "de_DE", "de_LU", "de_CH", "de-DE"}},
      {"el", {"el", "el_CY", "el_GR"}},
      {"hi_IN", {"hi_IN", "ta_IN", "te_IN", "mr_IN", "bn_IN", "gu_IN", "kn_IN", "pa_Guru_IN"}},
      {"it", {"it", "it_IT", "it_CH", "it-IT"}},
      {"ja", {"ja", "ja_JP", "ja_JP_JP", "ja-JP"}},
      {"no", {"nb", "no_NO", "no_NO_NY", "nb_NO"}},
      {"pt_BR", {"pt_BR", "pt-BR"}},
      {"pt_PT", {"pt", "pt_PT", "pt-PT"}},
      {"sr", {"sr_BA", "sr_ME", "sr_RS", "sr_Latn_BA", "sr_Latn_ME", "sr_Latn_RS"}},
      {"es_ES", {"es", "es_ES", "es-ES"}},
      {"es_MX", {"es-MX", "es_MX", "es_US", "es-US"}},
      {"es_419", {"es_AR", "es_BO", "es_CL", "es_CO", "es_CR", "es_DO", "es_EC", "es_SV", "es_GT", "es_HN",
                  "es_NI", "es_PA", "es_PY", "es_PE", "es_PR", "es_UY", "es_VE", "es-AR", "es-CL", "es-CO"}},
      {"th", {"th", "th_TH", "th_TH_TH"}},
  };
  platform::Dictionary dictionary;
  for (const auto& [language, locales] : table) {
    platform::Array identifiers;
    for (const char* locale : locales) identifiers.append(platform::Value(locale));
    dictionary.set(language, platform::Value(identifiers));
  }
  return dictionary;
}

std::vector<std::string> DeviceInfoAllLocales() {
  std::vector<std::string> locales;
  for (const auto& [language, identifiers] : DeviceInfoLanguageToLocales()) {
    const platform::Array list = identifiers.asArray().value_or(platform::Array());
    for (const platform::Value& identifier : list) locales.push_back(identifier.stringValue());
  }
  return locales;
}

std::string DeviceInfoPreferredLocale() {
  return platform::Locale::bestLocalization(DeviceInfoAllLocales(), platform::Locale::preferredLanguages());
}

std::string DeviceInfoPreferredLocale(const platform::Locale::EnvLookup& environment) {
  return platform::Locale::bestLocalization(DeviceInfoAllLocales(), platform::Locale::preferredLanguages(environment));
}

std::string DeviceInfoTimeZone() { return platform::TimeZone::name(); }

platform::Dictionary DeviceInfoContextWithProjectIdentifier(const std::optional<std::string>& projectIdentifier) {
  platform::Dictionary context;
  auto put = [&](const char* key, const std::optional<std::string>& value) {
    if (value) context.set(key, platform::Value(*value));
  };
  put(RCNDeviceContextKeyVersion, DeviceInfoAppVersion());
  put(RCNDeviceContextKeyBuild, DeviceInfoAppBuild());
  put(RCNDeviceContextKeyOSVersion, ZULAppEnvironmentUtil::systemVersion());
  put(RCNDeviceContextKeyLocale, DeviceInfoPreferredLocale());
  put(RCNDeviceContextKeyProjectIdentifier, projectIdentifier);
  return context;
}

bool DeviceInfoContextHasChanged(const platform::Dictionary& deviceContext,
                                 const std::optional<std::string>& projectIdentifier) {
  auto differs = [&](const char* key, const std::optional<std::string>& current) {
    const platform::Value* stored = deviceContext.find(key);
    return stored == nullptr || !current || *stored != platform::Value(*current);
  };
  if (differs(RCNDeviceContextKeyVersion, DeviceInfoAppVersion())) return true;
  if (differs(RCNDeviceContextKeyBuild, DeviceInfoAppBuild())) return true;
  if (differs(RCNDeviceContextKeyOSVersion, ZULAppEnvironmentUtil::systemVersion())) return true;
  if (differs(RCNDeviceContextKeyLocale, DeviceInfoPreferredLocale())) return true;
  if (const platform::Value* stored = deviceContext.find(RCNDeviceContextKeyProjectIdentifier)) {
    return !projectIdentifier || *stored != platform::Value(*projectIdentifier);
  }
  return false;
}

#include "platform/time/Locale.h"

#include <gtest/gtest.h>

#include <map>

namespace platform {
namespace {

Locale::EnvLookup envOf(std::map<std::string, std::string> values) {
  return [values](const std::string& name) -> std::optional<std::string> {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

using Strings = std::vector<std::string>;

TEST(LocaleTest, PreferredLanguagesFromEnvironment) {
  const std::pair<std::map<std::string, std::string>, Strings> cases[] = {
      {{{"LANGUAGE", "de_DE:fr"}, {"LANG", "en_US.UTF-8"}}, {"de-DE", "fr", "en-US"}},
      {{{"LC_ALL", ""}, {"LC_MESSAGES", "pt_BR.UTF-8"}, {"LANG", "en_US"}}, {"pt-BR"}},
      {{{"LC_ALL", "sv_SE"}, {"LC_MESSAGES", "pt_BR"}, {"LANG", "en_US"}}, {"sv-SE"}},
      {{{"LANGUAGE", "zh_Hans_CN:de_DE@euro:sr_RS.UTF-8@latin"}}, {"zh-Hans-CN", "de-DE", "sr-RS"}},
      {{{"LANGUAGE", "en_US"}, {"LANG", "en_US.UTF-8"}}, {"en-US"}},
      {{{"LANGUAGE", "::x::1234:"}, {"LANG", "es_419.UTF-8"}}, {"es-419"}},
      {{{"LANG", "C.UTF-8"}}, {"en"}},
      {{{"LANG", "POSIX"}}, {"en"}},
      {{}, {"en"}},
  };
  for (const auto& [env, expected] : cases) {
    EXPECT_EQ(Locale::preferredLanguages(envOf(env)), expected);
  }
}

TEST(LocaleTest, CountryCodeFromTheDecidingLocale) {
  const std::pair<std::map<std::string, std::string>, std::optional<std::string>> cases[] = {
      {{{"LANG", "en_US.UTF-8"}}, "us"},
      {{{"LC_ALL", "de_AT@euro"}, {"LANG", "en_US"}}, "at"},
      {{{"LC_ALL", "de"}, {"LANG", "fr_CA"}}, std::nullopt},
      {{{"LANGUAGE", "fr_FR"}, {"LANG", "C"}}, std::nullopt},
      {{{"LANG", "es_419"}}, "419"},
      {{}, std::nullopt},
  };
  for (const auto& [env, expected] : cases) {
    EXPECT_EQ(Locale::countryCode(envOf(env)), expected);
  }
}

TEST(LocaleTest, BestLocalizationIsDeterministic) {
  const Strings available = {"en", "en_GB", "de", "pt", "pt-BR", "zh_CN", "zh_TW", "zh-Hant", "es-419", "fr_CA"};
  const std::pair<Strings, std::string> cases[] = {
      {{"en-GB"}, "en_GB"},           // exact, "-" and "_" alike
      {{"EN_gb"}, "en_GB"},
      {{"pt_BR"}, "pt-BR"},
      {{"de-AT"}, "de"},              // language only
      {{"pt-PT"}, "pt"},
      {{"zh-Hans-CN"}, "zh_CN"},      // language and region, script ignored
      {{"zh-Hant-HK"}, "zh-Hant"},    // language and script
      {{"fr-FR"}, "fr_CA"},           // first entry of the language
      {{"es-MX"}, "es-419"},
      {{"xx", "", "de"}, "de"},       // later preferences when earlier ones miss
      {{"ja", "ko"}, "en"},
      {{}, "en"},
  };
  for (const auto& [preferred, expected] : cases) {
    EXPECT_EQ(Locale::bestLocalization(available, preferred), expected);
  }
  EXPECT_EQ(Locale::bestLocalization({}, {"de"}), "en");
}

}  // namespace
}  // namespace platform

// Locale: the user's language and region from the environment, and a
// deterministic choice of the best localisation among a list.
//
// Preferred languages come first from LANGUAGE (a colon-separated list), then
// from the first set of LC_ALL, LC_MESSAGES and LANG. Each entry loses its
// codeset and modifier ("de_DE.UTF-8@euro" -> "de-DE") and is written with "-"
// between subtags; "C" and "POSIX" carry no language; duplicates are dropped.
// With nothing usable the list is {"en"}.
//
// The country code is the region of the first set of LC_ALL, LC_MESSAGES and
// LANG, lower-cased ("us"); none when that locale names no region.
//
// `bestLocalization(available, preferred)`: for each preferred language in
// order, the first available entry that matches exactly ("-" and "_" alike,
// case-insensitive), else one with the same language and region (script
// ignored: "zh-Hans-CN" matches "zh_CN"), else one with the same language and
// script, else the bare language ("pt" for "pt-BR"), else the first entry
// with the same language; the entry is
// returned as written in `available`. "en" when nothing matches.
//
// The environment is read through an injectable lookup for tests.
// Thread safety: all functions may be called from any thread (the default
// lookup reads the process environment, which must not change concurrently).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Locale {
 public:
  using EnvLookup = std::function<std::optional<std::string>(const std::string& name)>;

  // getenv-based lookup of this process.
  static EnvLookup processEnvironment();

  static std::vector<std::string> preferredLanguages();
  static std::vector<std::string> preferredLanguages(const EnvLookup& env);

  // First preferred language, lower-cased ("en-us").
  static std::string firstPreferredLanguageLowercased();

  static std::optional<std::string> countryCode();
  static std::optional<std::string> countryCode(const EnvLookup& env);

  static std::string bestLocalization(const std::vector<std::string>& available,
                                      const std::vector<std::string>& preferred);

  // "de_DE.UTF-8@euro" -> "de-DE"; "C"/"POSIX"/malformed -> nothing.
  static std::optional<std::string> normalizeIdentifier(const std::string& posixLocale);
};

}  // namespace platform

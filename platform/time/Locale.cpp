#include "platform/time/Locale.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform {

namespace {

struct Tag {
  std::string language;  // lower case
  std::string script;    // title case, may be empty
  std::string region;    // upper case (or digits), may be empty
};

bool allOf(const std::string& s, int (*pred)(int)) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) { return pred(static_cast<unsigned char>(c)); });
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Splits "zh_Hans-CN" into its subtags; the first must be a 2-3 letter
// language, later ones a 4-letter script or a 2-letter / 3-digit region.
// Unknown later subtags (variants) are ignored.
std::optional<Tag> parseTag(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    if (c == '-' || c == '_') {
      parts.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  parts.push_back(current);
  if (parts[0].size() < 2 || parts[0].size() > 3 || !allOf(parts[0], std::isalpha)) return std::nullopt;
  Tag tag;
  tag.language = lower(parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) return std::nullopt;
    if (tag.script.empty() && tag.region.empty() && part.size() == 4 && allOf(part, std::isalpha)) {
      tag.script = lower(part);
      tag.script[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(tag.script[0])));
    } else if (tag.region.empty() && ((part.size() == 2 && allOf(part, std::isalpha)) ||
                                      (part.size() == 3 && allOf(part, std::isdigit)))) {
      tag.region = upper(part);
    }
  }
  return tag;
}

std::string comparable(const std::string& identifier) {
  std::string s = lower(identifier);
  std::replace(s.begin(), s.end(), '_', '-');
  return s;
}

std::optional<std::string> firstLocaleVariable(const Locale::EnvLookup& env) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    auto value = env(name);
    if (value && !value->empty()) return value;
  }
  return std::nullopt;
}

}  // namespace

Locale::EnvLookup Locale::processEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
  };
}

std::optional<std::string> Locale::normalizeIdentifier(const std::string& posixLocale) {
  std::string text = posixLocale.substr(0, posixLocale.find_first_of(".@"));
  if (text.empty() || text == "C" || text == "POSIX") return std::nullopt;
  auto tag = parseTag(text);
  if (!tag) return std::nullopt;
  std::string result = tag->language;
  if (!tag->script.empty()) result += "-" + tag->script;
  if (!tag->region.empty()) result += "-" + tag->region;
  return result;
}

std::vector<std::string> Locale::preferredLanguages() { return preferredLanguages(processEnvironment()); }

std::vector<std::string> Locale::preferredLanguages(const EnvLookup& env) {
  std::vector<std::string> result;
  auto add = [&](const std::string& raw) {
    auto normalized = normalizeIdentifier(raw);
    if (normalized && std::find(result.begin(), result.end(), *normalized) == result.end()) {
      result.push_back(*normalized);
    }
  };
  if (auto list = env("LANGUAGE")) {
    size_t start = 0;
    while (start <= list->size()) {
      size_t end = list->find(':', start);
      if (end == std::string::npos) end = list->size();
      add(list->substr(start, end - start));
      start = end + 1;
    }
  }
  if (auto locale = firstLocaleVariable(env)) add(*locale);
  if (result.empty()) result.push_back("en");
  return result;
}

std::string Locale::firstPreferredLanguageLowercased() { return lower(preferredLanguages().front()); }

std::optional<std::string> Locale::countryCode() { return countryCode(processEnvironment()); }

std::optional<std::string> Locale::countryCode(const EnvLookup& env) {
  auto locale = firstLocaleVariable(env);
  if (!locale) return std::nullopt;
  auto normalized = normalizeIdentifier(*locale);
  if (!normalized) return std::nullopt;
  auto tag = parseTag(*normalized);
  if (!tag || tag->region.empty()) return std::nullopt;
  return lower(tag->region);
}

std::string Locale::bestLocalization(const std::vector<std::string>& available,
                                     const std::vector<std::string>& preferred) {
  struct Candidate {
    const std::string* text;
    std::string key;
    std::optional<Tag> tag;
  };
  std::vector<Candidate> candidates;
  candidates.reserve(available.size());
  for (const std::string& have : available) candidates.push_back({&have, comparable(have), parseTag(have)});
  auto first = [&](auto matches) -> const std::string* {
    for (const Candidate& c : candidates) {
      if (matches(c)) return c.text;
    }
    return nullptr;
  };

  for (const std::string& want : preferred) {
    const std::string wanted = comparable(want);
    if (auto found = first([&](const Candidate& c) { return c.key == wanted; })) return *found;
    auto w = parseTag(want);
    if (!w) continue;
    auto sameLanguage = [&](const Candidate& c) { return c.tag && c.tag->language == w->language; };
    const std::string* found = nullptr;
    if (!w->region.empty()) {
      found = first([&](const Candidate& c) { return sameLanguage(c) && c.tag->region == w->region; });
    }
    if (!found && !w->script.empty()) {
      found = first([&](const Candidate& c) { return sameLanguage(c) && c.tag->script == w->script; });
    }
    if (!found) found = first([&](const Candidate& c) { return c.key == w->language; });
    if (!found) found = first(sameLanguage);
    if (found) return *found;
  }
  return "en";
}

}  // namespace platform

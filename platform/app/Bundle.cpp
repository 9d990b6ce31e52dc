#include "platform/app/Bundle.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/log/Log.h"
#include "platform/runtime/Immortal.h"
#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "platform/time/Locale.h"

namespace platform {

namespace {

std::mutex g_mainMutex;
platform::Immortal<std::shared_ptr<Bundle>> g_mainSlot;
std::shared_ptr<Bundle>& g_main = *g_mainSlot;
bool g_toldIdentifier = false;

Log bundleLog() { return Log("platform", "bundle"); }

std::optional<std::string> stringValue(const Value& value) {
  if (const std::string* s = value.asString()) return *s;
  return std::nullopt;
}

bool isSafeRelativeName(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

// Caller holds g_mainMutex.
void tellStandardFolders(const std::shared_ptr<Bundle>& bundle) {
  std::optional<std::string> identifier = bundle ? bundle->bundleIdentifier() : std::nullopt;
  if (identifier && !identifier->empty()) {
    StandardFolders::setBundleIdentifier(*identifier);
    g_toldIdentifier = true;
  } else if (g_toldIdentifier) {
    StandardFolders::setBundleIdentifier("");
    g_toldIdentifier = false;
  }
}

}  // namespace

Bundle::Bundle(std::string path, std::vector<std::string> preferredLanguages)
    : m_path(std::move(path)), m_preferredLanguages(std::move(preferredLanguages)) {}

std::shared_ptr<Bundle> Bundle::main() {
  std::lock_guard<std::mutex> guard(g_mainMutex);
  if (!g_main) {
    g_main = std::make_shared<Bundle>(defaultResourcePath());
    tellStandardFolders(g_main);
  }
  return g_main;
}

void Bundle::setMain(std::shared_ptr<Bundle> bundle) {
  std::lock_guard<std::mutex> guard(g_mainMutex);
  g_main = std::move(bundle);
  if (g_main || g_toldIdentifier) tellStandardFolders(g_main);
}

std::string Bundle::defaultResourcePath() {
  if (const char* env = std::getenv(kResourcesEnvironmentVariable); env != nullptr && *env != '\0') {
    return env;
  }
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string executable(buffer, static_cast<size_t>(n));
  return fs::joinPath(fs::parentPath(fs::parentPath(executable)), "resources");
}

const Dictionary& Bundle::info() const {
  if (!m_info) {
    std::string path = fs::joinPath(m_path, kInfoFileName);
    auto read = PropertyList::readDictionary(path);
    if (read.ok()) {
      m_info = std::move(read.value());
    } else {
      if (!FileError::isNoSuchFile(read.error())) {
        bundleLog().write(LogType::Error, "Cannot read " + path + ": " + read.error().localizedDescription());
      }
      m_info = Dictionary();
    }
  }
  return *m_info;
}

Dictionary Bundle::infoDictionary() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return info().copy();
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return info().get(key).copy();
}

std::optional<std::string> Bundle::bundleIdentifier() const {
  return stringValue(objectForInfoDictionaryKey(kIdentifierKey));
}

std::optional<std::string> Bundle::shortVersionString() const {
  return stringValue(objectForInfoDictionaryKey(kShortVersionKey));
}

std::optional<std::string> Bundle::version() const {
  return stringValue(objectForInfoDictionaryKey(kVersionKey));
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type) const {
  if (m_path.empty()) return std::nullopt;
  while (!type.empty() && type.front() == '.') type.remove_prefix(1);
  std::string file(name);
  if (!type.empty()) file += "." + std::string(type);
  if (!isSafeRelativeName(file)) return std::nullopt;

  std::vector<std::string> folders{m_path};
  std::string lang;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    lang = language();
  }
  folders.push_back(fs::joinPath(m_path, lang + ".lproj"));
  if (lang != kDevelopmentLanguage) folders.push_back(fs::joinPath(m_path, std::string(kDevelopmentLanguage) + ".lproj"));
  for (const auto& folder : folders) {
    std::string candidate = fs::joinPath(folder, file);
    if (fs::exists(candidate)) return candidate;
  }
  return std::nullopt;
}

std::vector<std::string> Bundle::localizations() const {
  std::vector<std::string> out;
  auto names = fs::contentsOfDirectory(m_path);
  if (!names.ok()) return out;
  for (const auto& name : *names) {
    constexpr std::string_view kSuffix = ".lproj";
    if (name.size() > kSuffix.size() && name.ends_with(kSuffix) &&
        fs::isDirectory(fs::joinPath(m_path, name))) {
      out.push_back(name.substr(0, name.size() - kSuffix.size()));
    }
  }
  return out;
}

const std::string& Bundle::language() const {
  if (!m_language) {
    std::vector<std::string> preferred =
        m_preferredLanguages.empty() ? Locale::preferredLanguages() : m_preferredLanguages;
    std::vector<std::string> available = localizations();
    m_language = available.empty() ? std::string(kDevelopmentLanguage)
                                   : Locale::bestLocalization(available, preferred);
  }
  return *m_language;
}

std::string Bundle::preferredLocalization() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return language();
}

const Bundle::Table& Bundle::table(const std::string& lang, const std::string& name) const {
  std::string cacheKey = lang + "/" + name;
  auto found = m_tables.find(cacheKey);
  if (found != m_tables.end()) return found->second;

  Table entries;
  std::string path = fs::joinPath(fs::joinPath(m_path, lang + ".lproj"), name + ".json");
  auto bytes = fs::readFile(path);
  if (bytes.ok()) {
    auto parsed = Json::parse(*bytes);
    std::optional<Dictionary> dict = parsed.ok() ? parsed->asDictionary() : std::nullopt;
    if (dict) {
      for (const auto& [key, value] : *dict) {
        if (const std::string* text = value.asString()) entries.emplace(key, *text);
      }
    } else {
      bundleLog().write(LogType::Error, "Ignoring strings table " + path + ": not a JSON object of texts");
    }
  } else if (!FileError::isNoSuchFile(bytes.error())) {
    bundleLog().write(LogType::Error, "Cannot read strings table " + path + ": " +
                                          bytes.error().localizedDescription());
  }
  return m_tables.emplace(std::move(cacheKey), std::move(entries)).first->second;
}

std::string Bundle::localizedString(const std::string& key) const {
  return localizedString(key, {}, kDefaultTable);
}

std::string Bundle::localizedString(const std::string& key, const std::string& value,
                                    const std::string& tableName) const {
  const std::string name = tableName.empty() ? std::string(kDefaultTable) : tableName;
  if (!isSafeRelativeName(name) || m_path.empty()) return value.empty() ? key : value;
  std::lock_guard<std::mutex> guard(m_mutex);
  const std::string& lang = language();
  for (const std::string& candidate : {lang, std::string(kDevelopmentLanguage)}) {
    const Table& entries = table(candidate, name);
    if (auto it = entries.find(key); it != entries.end()) return it->second;
    if (candidate == kDevelopmentLanguage) break;
  }
  return value.empty() ? key : value;
}

}  // namespace platform

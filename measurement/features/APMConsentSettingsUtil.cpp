#include "measurement/features/APMConsentSettingsUtil.h"

#include <array>
#include <map>

#include "measurement/base/APMConsentNames.h"
#include "platform/app/Bundle.h"
#include "platform/text/Unicode.h"

namespace {

using platform::Dictionary;
using platform::Value;

// The four types in the order every per-type loop follows.
const std::array<std::string, 4>& consentTypes() {
  static const std::array<std::string, 4> types = {
      APMConsentSettingsUtil::kAdStorage, APMConsentSettingsUtil::kAnalyticsStorage,
      APMConsentSettingsUtil::kAdUserData, APMConsentSettingsUtil::kAdPersonalization};
  return types;
}

struct ConsentState {
  std::optional<Dictionary> settings;
  std::optional<Dictionary> defaults;
  std::optional<Dictionary> delegated;
  std::optional<Dictionary> regional;
  int64_t source = APMConsentSettingsUtil::kSourceNone;
  int64_t version = 1;
  std::optional<std::map<std::string, int64_t>> diagnostics;
};

// Queue-confined; made once and kept for the whole process.
ConsentState& state() {
  static ConsentState* const shared = new ConsentState();
  return *shared;
}

std::string lowercased(const Value& value) {
  const std::string* text = value.asString();
  return text ? platform::Unicode::lowercase(*text) : std::string();
}

// The stored value of a type, lower-cased; none unless it is a string.
std::optional<std::string> storedValue(const std::optional<Dictionary>& dictionary, const std::string& type) {
  if (!dictionary) return std::nullopt;
  const Value* value = dictionary->find(type);
  if (value == nullptr || !value->isString()) return std::nullopt;
  return lowercased(*value);
}

bool holds(const std::optional<Dictionary>& dictionary, const std::string& type) {
  return dictionary && dictionary->find(type) != nullptr;
}

std::optional<Dictionary> copied(const std::optional<Dictionary>& dictionary) {
  if (!dictionary) return std::nullopt;
  return dictionary->copy();
}

// Settings value of a type, with an EU-policy value replaced by the regional one.
std::optional<std::string> effectiveSetting(const ConsentState& s, const std::string& type) {
  std::optional<std::string> value = storedValue(s.settings, type);
  if (value && APMConsentIsEUConsentPolicy(type, Value(*value))) {
    value = platform::Unicode::lowercase(APMConsentRegionalValue(type, s.regional));
  }
  return value;
}

bool adUserDataDenied(const ConsentState& s) {
  std::optional<std::string> value = effectiveSetting(s, APMConsentSettingsUtil::kAdUserData);
  if (!value && s.delegated) {
    const std::string delegate = s.delegated->get(APMConsentSettingsUtil::kAdUserData).stringValue();
    if (!delegate.empty() && holds(s.settings, delegate)) {
      return storedValue(s.settings, delegate) == APMConsentSettingsUtil::kDenied;
    }
  }
  if (!value) value = storedValue(s.defaults, APMConsentSettingsUtil::kAdUserData);
  return value == APMConsentSettingsUtil::kDenied;
}

std::map<std::string, int64_t>& diagnostics(ConsentState& s) {
  if (!s.diagnostics) {
    s.diagnostics.emplace();
    for (const std::string& type : consentTypes()) (*s.diagnostics)[type] = 0;
  }
  return *s.diagnostics;
}

void resetDiagnosticSources(ConsentState& s) {
  s.diagnostics.reset();
  diagnostics(s);
}

// Recomputes every type's digit; fromSource takes set types' digits from the
// current source, otherwise they keep theirs.
void refreshDiagnosticSources(ConsentState& s, bool fromSource) {
  std::map<std::string, int64_t>& digits = diagnostics(s);
  for (const std::string& type : consentTypes()) {
    int64_t digit = digits[type];
    if (holds(s.settings, type)) {
      if (fromSource) digit = APMConsentDiagnosticCodeForSource(s.source);
      if (APMConsentIsEUConsentPolicy(type, s.settings->get(type))) digit = 8;
    } else if (type == APMConsentSettingsUtil::kAdUserData && holds(s.delegated, type)) {
      digit = 2;
    } else if (holds(s.defaults, type)) {
      digit = (type == APMConsentSettingsUtil::kAdUserData || type == APMConsentSettingsUtil::kAdPersonalization) ? 1 : 9;
    } else {
      digit = 9;
    }
    digits[type] = digit;
  }
}

void merge(ConsentState& s, const Dictionary& settings) {
  if (!s.settings) s.settings.emplace();
  for (const auto& [key, value] : settings) s.settings->set(key, value.copy());
}

template <class Read>
auto read(Read read) {
  return APMConsentSettingsUtil::queue().sync([&] { return read(state()); });
}

template <class Write>
void write(Write write) {
  APMConsentSettingsUtil::queue().async([write = std::move(write)] { write(state()); });
}

}  // namespace

const platform::SerialQueue& APMConsentSettingsUtil::queue() {
  static const platform::SerialQueue* const shared = new platform::SerialQueue(kQueueLabel);
  return *shared;
}

// --- readers -----------------------------------------------------------------------

std::optional<Dictionary> APMConsentSettingsUtil::consentSettings() {
  return read([](ConsentState& s) { return copied(s.settings); });
}

std::optional<Dictionary> APMConsentSettingsUtil::defaultSettings() {
  return read([](ConsentState& s) { return copied(s.defaults); });
}

std::optional<Dictionary> APMConsentSettingsUtil::delegatedSettings() {
  return read([](ConsentState& s) { return copied(s.delegated); });
}

std::optional<Dictionary> APMConsentSettingsUtil::regionalDefaults() {
  return read([](ConsentState& s) { return copied(s.regional); });
}

int64_t APMConsentSettingsUtil::consentSource() {
  return read([](ConsentState& s) { return s.source; });
}

int64_t APMConsentSettingsUtil::version() {
  return read([](ConsentState& s) { return s.version; });
}

bool APMConsentSettingsUtil::isAdStorageDenied() {
  return read([](ConsentState& s) { return storedValue(s.settings, kAdStorage) == kDenied; });
}

bool APMConsentSettingsUtil::isAnalyticsStorageDenied() {
  return read([](ConsentState& s) { return storedValue(s.settings, kAnalyticsStorage) == kDenied; });
}

bool APMConsentSettingsUtil::isAdUserDataDenied() {
  return read([](ConsentState& s) { return adUserDataDenied(s); });
}

std::optional<int64_t> APMConsentSettingsUtil::adPersonalization() {
  return read([](ConsentState& s) -> std::optional<int64_t> {
    std::optional<std::string> value = effectiveSetting(s, kAdPersonalization);
    if (!value) value = storedValue(s.defaults, kAdPersonalization);
    if (value == kDenied) return 0;
    if (value == kGranted) return 1;
    return std::nullopt;
  });
}

bool APMConsentSettingsUtil::didAdUserDataConsentChange(bool previouslyDenied) {
  return previouslyDenied != isAdUserDataDenied();
}

bool APMConsentSettingsUtil::isConsentSourceEqualPriority(int64_t source) {
  const int64_t current = consentSource();
  if (source == current) return true;
  return (source == kSourceTCF && current == kSourceThirdParty) ||
         (source == kSourceThirdParty && current == kSourceTCF);
}

bool APMConsentSettingsUtil::isConsentSourceHigherPriority(int64_t source) {
  return isConsentSourceEqualPriority(source) || consentSource() >= source;
}

std::string APMConsentSettingsUtil::consentSignals() {
  return read([](ConsentState& s) {
    auto signal = [&s](const char* type) -> std::string {
      std::optional<std::string> value = storedValue(s.settings, type);
      if (value == kDenied) return "0";
      if (value == kGranted) return "1";
      return "-";
    };
    return "G1" + signal(kAdStorage) + signal(kAnalyticsStorage);
  });
}

std::string APMConsentSettingsUtil::consentDiagnostics() {
  return read([](ConsentState& s) {
    refreshDiagnosticSources(s, false);
    std::string text = "1";
    for (const std::string& type : consentTypes()) text += std::to_string((*s.diagnostics)[type]);
    return text;
  });
}

std::string APMConsentSettingsUtil::description() {
  return read([](ConsentState& s) {
    auto shown = [&s](const std::string& type) {
      const Value value = s.settings ? s.settings->get(type) : Value();
      if (APMConsentIsEUConsentPolicy(type, value)) {
        return APMConsentRegionalValue(type, s.regional) + " (eu_consent_policy)";
      }
      return value.isNull() ? std::string(kGranted) : value.stringValue();
    };
    std::string text = std::string(kAdStorage) + " is " + shown(kAdStorage) + ". " + kAnalyticsStorage + " is " +
                       shown(kAnalyticsStorage) + ".";
    for (const char* type : {kAdUserData, kAdPersonalization}) {
      if (holds(s.settings, type)) text += std::string(" ") + type + " is " + shown(type) + ".";
    }
    return text;
  });
}

// --- writers -----------------------------------------------------------------------

void APMConsentSettingsUtil::setConsentSettings(const std::optional<Dictionary>& settings) {
  write([settings = copied(settings)](ConsentState& s) {
    s.settings = settings;
    if (!settings) {
      s.source = kSourceNone;
      refreshDiagnosticSources(s, true);
    }
  });
}

void APMConsentSettingsUtil::setDefaultSettings(const std::optional<Dictionary>& settings) {
  write([settings = copied(settings)](ConsentState& s) { s.defaults = settings; });
}

void APMConsentSettingsUtil::setDelegatedSettings(const std::optional<Dictionary>& settings) {
  write([settings = copied(settings)](ConsentState& s) { s.delegated = settings; });
}

void APMConsentSettingsUtil::setRegionalDefaults(const std::optional<Dictionary>& settings) {
  write([settings = copied(settings)](ConsentState& s) { s.regional = settings; });
}

void APMConsentSettingsUtil::setConsentSource(int64_t source) {
  write([source](ConsentState& s) {
    s.source = source;
    refreshDiagnosticSources(s, true);
  });
}

void APMConsentSettingsUtil::setVersion(int64_t version) {
  if (version != 1 && version != 2) return;
  write([version](ConsentState& s) { s.version = version; });
}

void APMConsentSettingsUtil::updateSettings(const Dictionary& settings) {
  write([settings = settings.copy()](ConsentState& s) { merge(s, settings); });
}

void APMConsentSettingsUtil::updateSettingsConsentSource(const Dictionary& settings, int64_t source) {
  write([settings = settings.copy(), source](ConsentState& s) {
    merge(s, settings);
    s.source = source;
    std::map<std::string, int64_t>& digits = diagnostics(s);
    for (const auto& [key, value] : settings) digits[key] = APMConsentDiagnosticCodeForSource(source);
  });
}

void APMConsentSettingsUtil::setDiagnosticSourceForConsentType(int64_t digit, const std::string& type) {
  write([digit, type](ConsentState& s) { diagnostics(s)[type] = digit; });
}

void APMConsentSettingsUtil::unsetAdPersonalization() {
  write([](ConsentState& s) {
    if (!holds(s.settings, kAdPersonalization)) return;
    s.settings->remove(kAdPersonalization);
    diagnostics(s)[kAdPersonalization] = 0;
  });
}

void APMConsentSettingsUtil::clearAllSettings() {
  write([](ConsentState& s) {
    s.source = kSourceNone;
    s.settings.reset();
    s.defaults.reset();
    s.delegated.reset();
    s.regional.reset();
    resetDiagnosticSources(s);
  });
}

void APMConsentSettingsUtil::resetForTesting() {
  queue().sync([] { state() = ConsentState(); });
}

// --- pure helpers --------------------------------------------------------------------

Dictionary APMConsentSettingsUtil::consentSettingsFromDictionary(const Dictionary& dictionary) {
  Dictionary settings;
  for (const std::string& type : consentTypes()) {
    if (const Value* value = dictionary.find(type)) settings.set(type, *value);
  }
  return settings;
}

Dictionary APMConsentSettingsUtil::consentSettingsFromPlist() {
  static const std::array<std::pair<const char*, const char*>, 4> kKeys = {{
      {kPlistAdStorageKey, kAdStorage},
      {kPlistAnalyticsStorageKey, kAnalyticsStorage},
      {kPlistAdUserDataKey, kAdUserData},
      {kPlistAdPersonalizationKey, kAdPersonalization},
  }};
  const Dictionary info = platform::Bundle::main()->infoDictionary();
  Dictionary settings;
  for (const auto& [key, type] : kKeys) {
    const Value* value = info.find(key);
    if (value == nullptr) continue;
    // The ad-personalization default is read from a string only.
    if (std::string(type) == kAdPersonalization && !value->isString()) continue;
    if (std::optional<std::string> converted = APMConsentValueFromPlistValue(type, *value)) {
      settings.set(type, *converted);
    }
  }
  return settings;
}

int64_t APMConsentTypeFromName(const std::string& name) {
  for (int64_t type = 1; type <= 4; ++type) {
    if (APMConsentTypeName(type) == name) return type;
  }
  return 0;
}

int64_t APMConsentStatusFromName(const std::string& name) {
  for (int64_t status = 1; status <= 2; ++status) {
    if (APMConsentStatusName(status) == name) return status;
  }
  return 0;
}

int64_t APMConsentDiagnosticCodeForSource(int64_t source) {
  switch (source) {
    case APMConsentSettingsUtil::kSourceTCF:
      return 7;
    case APMConsentSettingsUtil::kSourceThirdParty:
    case APMConsentSettingsUtil::kSourceApplication:
      return 5;
    case APMConsentSettingsUtil::kSourcePlist:
      return 3;
    case APMConsentSettingsUtil::kSourceFirstPartyStart:
      return 4;
    default:
      return 0;
  }
}

bool APMConsentIsEUConsentPolicy(const std::string& type, const Value& value) {
  return (type == APMConsentSettingsUtil::kAdUserData || type == APMConsentSettingsUtil::kAdPersonalization) &&
         lowercased(value) == APMConsentSettingsUtil::kEUConsentPolicy;
}

std::string APMConsentRegionalValue(const std::string& type, const std::optional<Dictionary>& regional) {
  if (regional) {
    if (const Value* value = regional->find(type)) return value->stringValue();
  }
  const bool advertising =
      type == APMConsentSettingsUtil::kAdUserData || type == APMConsentSettingsUtil::kAdPersonalization;
  return advertising ? APMConsentSettingsUtil::kDenied : APMConsentSettingsUtil::kGranted;
}

std::optional<std::string> APMConsentValueFromPlistValue(const std::string& type, const Value& value) {
  if (value.isString() && lowercased(value) == APMConsentSettingsUtil::kEUConsentPolicy) {
    if (APMConsentIsEUConsentPolicy(type, value)) return std::string(APMConsentSettingsUtil::kEUConsentPolicy);
    return std::nullopt;
  }
  // Objects that answer a Boolean value: bools, numbers and strings.
  if (value.isBool() || value.isNumber() || value.isString()) {
    return std::string(value.boolValue() ? APMConsentSettingsUtil::kGranted : APMConsentSettingsUtil::kDenied);
  }
  return std::nullopt;
}

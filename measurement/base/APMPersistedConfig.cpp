#include "measurement/base/APMPersistedConfig.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMPersistentDictionary.h"
#include "measurement/base/APMUserDefaults.h"
#include "platform/crypto/RandomSource.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/ExitDrain.h"

namespace {

// The shared instance, made on first use and kept for the whole process
// (tests may replace it).
struct SharedPersistedConfig {
  std::mutex mutex;
  bool made = false;
  std::shared_ptr<APMPersistedConfig> instance;
};

SharedPersistedConfig& sharedPersistedConfig() {
  static SharedPersistedConfig* const shared = new SharedPersistedConfig();
  return *shared;
}

}  // namespace

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::sharedInstance() {
  SharedPersistedConfig& shared = sharedPersistedConfig();
  std::shared_ptr<APMPersistedConfig> instance;
  {
    std::lock_guard lock(shared.mutex);
    if (!shared.made) {
      shared.made = true;
      shared.instance = initWithSuiteName(kSharedSuiteName);
    }
    instance = shared.instance;
  }
  if (!instance) APMEngineServices::monitor()->logWithLevel(1, 27001, "PersistedConfig's shared instance is nil");
  return instance;
}

void APMPersistedConfig::setSharedInstanceForTesting(std::shared_ptr<APMPersistedConfig> instance) {
  SharedPersistedConfig& shared = sharedPersistedConfig();
  std::lock_guard lock(shared.mutex);
  shared.made = instance != nullptr;
  shared.instance = std::move(instance);
}

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::initWithSuiteName(const std::string& name) {
  if (name.empty()) return nullptr;
  APMMigratePlistToApplicationSupport(name);
  return std::shared_ptr<APMPersistedConfig>(
      new APMPersistedConfig(name, APMPersistentDictionary::initWithFileName(name)));
}

APMPersistedConfig::APMPersistedConfig(std::string name, std::shared_ptr<APMConfigStore> store)
    : m_name(std::move(name)), m_userDefaults(std::move(store)), m_serialQueue(kQueueLabel) {
  platform::ExitDrain::registerQueue(m_serialQueue);
}

APMPersistedConfig::~APMPersistedConfig() { cancelScheduledSynchronize(); }

// --- reads ---------------------------------------------------------------------

bool APMPersistedConfig::boolForKey(const std::string& key) {
  if (key.empty() || !m_userDefaults) return false;
  return m_serialQueue.sync([&] { return m_userDefaults->boolForKey(key); });
}

int64_t APMPersistedConfig::int64ForKey(const std::string& key) { return int64ForKey(key, m_userDefaults.get()); }

int64_t APMPersistedConfig::int64ForKey(const std::string& key, APMConfigStore* store) {
  if (key.empty() || store == nullptr) return 0;
  return m_serialQueue.sync([&]() -> int64_t {
    std::optional<platform::Value> object = store->objectForKey(key);
    return object && object->isNumeric() ? object->longLongValue() : 0;
  });
}

double APMPersistedConfig::doubleForKey(const std::string& key) {
  if (key.empty() || !m_userDefaults) return 0;
  return m_serialQueue.sync([&] { return m_userDefaults->doubleForKey(key); });
}

std::optional<std::string> APMPersistedConfig::stringForKey(const std::string& key) {
  if (key.empty() || !m_userDefaults) return std::nullopt;
  return m_serialQueue.sync([&] { return m_userDefaults->stringForKey(key); });
}

std::optional<platform::Dictionary> APMPersistedConfig::dictionaryForKey(const std::string& key) {
  if (key.empty() || !m_userDefaults) return std::nullopt;
  return m_serialQueue.sync([&] { return m_userDefaults->dictionaryForKey(key); });
}

std::optional<platform::Value> APMPersistedConfig::numberForKey(const std::string& key) {
  if (key.empty() || !m_userDefaults) return std::nullopt;
  return m_serialQueue.sync([&] { return m_userDefaults->objectForKey(key); });
}

// --- writes --------------------------------------------------------------------

void APMPersistedConfig::setObject(const platform::Value& value, const std::string& key, bool schedule) {
  if (!m_userDefaults) return;
  m_serialQueue.sync([&] { m_userDefaults->setObject(value, key); });
  if (schedule) scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setBool(bool value, const std::string& key) { setObject(platform::Value(value), key, true); }

void APMPersistedConfig::setInt64(int64_t value, const std::string& key) {
  setObject(platform::Value(static_cast<long long>(value)), key, true);
}

void APMPersistedConfig::setDouble(double value, const std::string& key) {
  setObject(platform::Value(value), key, true);
}

void APMPersistedConfig::setString(const std::optional<std::string>& value, const std::string& key) {
  setObject(value ? platform::Value(*value) : platform::Value(), key, true);
}

void APMPersistedConfig::setDictionary(const std::optional<platform::Dictionary>& value, const std::string& key) {
  if (value && !APMConfigStore::isAllowedValue(platform::Value(*value))) {
    APMEngineServices::monitor()->logWithLevel(1, 27002, "Unsupported value passed in dictionary");
    return;
  }
  setObject(value ? platform::Value(*value) : platform::Value(), key, true);
}

void APMPersistedConfig::setNumber(const platform::Value& value, const std::string& key) {
  setObject(value, key, true);
}

void APMPersistedConfig::clearValues() {
  if (!m_userDefaults) return;
  m_serialQueue.sync([&] { m_userDefaults->clearAllData(); });
}

// --- delayed synchronize -------------------------------------------------------------

void APMPersistedConfig::scheduleSynchronizeToDisk() {
  std::weak_ptr<APMPersistedConfig> weak = weak_from_this();
  std::lock_guard lock(m_lock);
  if (m_synchronizeBlock) m_synchronizeBlock->cancel();
  m_synchronizeBlock = m_serialQueue.after(1.0, [weak] {
    if (std::shared_ptr<APMPersistedConfig> strong = weak.lock()) strong->synchronizeToDisk();
  });
}

void APMPersistedConfig::cancelScheduledSynchronize() {
  std::lock_guard lock(m_lock);
  if (m_synchronizeBlock) m_synchronizeBlock->cancel();
  m_synchronizeBlock.reset();
}

void APMPersistedConfig::synchronizeToDisk() {
  if (platform::isMainThread()) {
    scheduleSynchronizeToDisk();
    return;
  }
  if (m_userDefaults) m_userDefaults->synchronize();
}

// --- special properties ---------------------------------------------------------------

std::optional<platform::Value> APMPersistedConfig::searchAdCampaignValue() {
  if (!m_userDefaults) return std::nullopt;
  return m_userDefaults->objectForKey(kSearchAdCampaignKey);
}

void APMPersistedConfig::setSearchAdCampaignValue(const platform::Value& value) {
  if (!value.isNumeric()) return;
  setNumber(value, kSearchAdCampaignKey);
}

int64_t APMPersistedConfig::measurementEnabledState() {
  return int64ForKey(kMeasurementEnabledStateKey, APMUserDefaults::sharedUserDefaults().get());
}

void APMPersistedConfig::setMeasurementEnabledState(int64_t value) {
  m_serialQueue.sync([&] {
    std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
    preferences->setInteger(value, kMeasurementEnabledStateKey);
    preferences->synchronize();
  });
}

double APMPersistedConfig::midnightOffset() {
  if (!m_userDefaults) return 0;
  return m_serialQueue.sync([&]() -> double {
    std::optional<platform::Value> stored = m_userDefaults->objectForKey(kMidnightOffsetKey);
    if (stored && stored->isNumeric()) return stored->doubleValue();
    const double offset = platform::RandomSource::current()->uniform(86400000) / 1000.0;
    m_userDefaults->setDouble(offset, kMidnightOffsetKey);
    return offset;
  });
}

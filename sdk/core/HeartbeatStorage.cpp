#include "sdk/core/HeartbeatStorage.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/dispatch/ExitDrain.h"
#include "platform/storage/Json.h"

namespace RirivuduCoreInternal {

namespace {

struct InstanceEntry {
  std::weak_ptr<HeartbeatStorage> object;
  const HeartbeatStorage* identity = nullptr;  // compared, never dereferenced
};

struct InstanceTable {
  std::mutex mutex;
  std::map<std::string, InstanceEntry> entries;
};

InstanceTable& storageInstances() {
  static InstanceTable* table = new InstanceTable();  // outlives every instance
  return *table;
}

}  // namespace

HeartbeatStorage::HeartbeatStorage(std::string id, std::unique_ptr<Storage> storage)
    : m_id(std::move(id)), m_storage(std::move(storage)), m_queue(kQueueLabelPrefix + m_id) {
  platform::ExitDrain::registerQueue(m_queue);
}

HeartbeatStorage::~HeartbeatStorage() {
  InstanceTable& table = storageInstances();
  std::lock_guard lock(table.mutex);
  auto found = table.entries.find(m_id);
  if (found != table.entries.end() && found->second.identity == this) table.entries.erase(found);
}

std::shared_ptr<HeartbeatStorage> HeartbeatStorage::sharedInstance(const std::string& id) {
  InstanceTable& table = storageInstances();
  std::lock_guard lock(table.mutex);
  InstanceEntry& entry = table.entries[id];
  if (std::shared_ptr<HeartbeatStorage> live = entry.object.lock()) return live;
  auto created = std::make_shared<HeartbeatStorage>(id, FileStorage::makeForID(id));
  entry = InstanceEntry{created, created.get()};
  return created;
}

void HeartbeatStorage::setSharedInstanceForTesting(const std::string& id,
                                                   const std::shared_ptr<HeartbeatStorage>& instance) {
  InstanceTable& table = storageInstances();
  std::lock_guard lock(table.mutex);
  table.entries[id] = InstanceEntry{instance, instance.get()};
}

std::optional<HeartbeatsBundle> HeartbeatStorage::loadBundle() {
  std::variant<platform::Bytes, StorageError> read = m_storage->readData();
  const platform::Bytes* bytes = std::get_if<platform::Bytes>(&read);
  if (bytes == nullptr || bytes->empty()) return std::nullopt;
  platform::Result<platform::Value> json = platform::Json::parse(*bytes);
  if (!json) return std::nullopt;
  return HeartbeatsBundle::decode(*json);
}

std::optional<StorageError> HeartbeatStorage::saveBundle(const std::optional<HeartbeatsBundle>& bundle) {
  if (!bundle) return m_storage->writeData(std::nullopt);
  platform::Result<platform::Bytes> bytes = platform::Json::serializeData(bundle->encode());
  if (!bytes) return StorageError::writeError;
  return m_storage->writeData(*bytes);
}

HeartbeatsSwapResult HeartbeatStorage::swap(const HeartbeatsBundleTransform& transform) {
  std::optional<HeartbeatsBundle> loaded = loadBundle();
  if (std::optional<StorageError> error = saveBundle(transform(loaded))) return *error;
  return loaded;
}

void HeartbeatStorage::updateSync(const HeartbeatsBundleTransform& transform) {
  m_queue.sync([&] { saveBundle(transform(loadBundle())); });
}

void HeartbeatStorage::updateAsync(HeartbeatsBundleTransform transform) {
  m_queue.async([self = shared_from_this(), transform = std::move(transform)] {
    self->saveBundle(transform(self->loadBundle()));
  });
}

HeartbeatsSwapResult HeartbeatStorage::swapSync(const HeartbeatsBundleTransform& transform) {
  return m_queue.sync([&] { return swap(transform); });
}

void HeartbeatStorage::swapAsync(HeartbeatsBundleTransform transform,
                                 std::function<void(HeartbeatsSwapResult)> completion) {
  m_queue.async([self = shared_from_this(), transform = std::move(transform), completion = std::move(completion)] {
    HeartbeatsSwapResult result = self->swap(transform);
    if (completion) completion(std::move(result));
  });
}

}  // namespace RirivuduCoreInternal

// APMPersistentDictionary: a dictionary kept in a property-list file of its
// own, APMMeasurementPlistPath(fileName) in "Zoruvu/Measurement" of
// Application Support, written back by itself shortly after a change.
//
// Reads and writes work on memory under the object's lock. The first change
// (a new or different value, a removal of a present key, clearing a non-empty
// dictionary) schedules one file write 1 second later on the serial queue
// "APMPersistentDictionary" (platform timers, so a virtual clock drives it);
// further changes within that second join the same write. The write replaces
// the file atomically: a crash leaves the previous file, never a truncated
// one. A failed write is logged (43000) and retried only with the next
// change. Destroying the dictionary with a write pending writes at once. A
// missing or unreadable file loads as an empty dictionary.
//
// Problems go straight to the shared logger ("com.zoruvu.ririvudu.analytics",
// "<RedIveduruveza>", codes 43000-43004), not through the monitor.
//
// Thread safety: every member may be called from any thread; the file write
// runs outside the lock, so writers never wait for the disk.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "measurement/base/APMConfigStore.h"
#include "platform/dispatch/SerialQueue.h"

class APMPersistentDictionary : public APMConfigStore, public std::enable_shared_from_this<APMPersistentDictionary> {
 public:
  static constexpr const char* kQueueLabel = "APMPersistentDictionary";
  static constexpr double kPersistDelay = 1.0;

  // Nullptr for an empty name, a path that cannot be formed, or a folder
  // that cannot be created (43004).
  static std::shared_ptr<APMPersistentDictionary> initWithFileName(const std::string& fileName);
  ~APMPersistentDictionary() override;

  std::optional<platform::Value> objectForKey(const std::string& key) override;
  void setObject(const platform::Value& object, const std::string& key) override;
  void clearAllData() override;
  // Writes happen by themselves; nothing to do.
  void synchronize() override {}

  void schedulePersistToDisk();
  void persistToDisk();

  const std::string& filePath() const { return m_filePath; }
  bool hasPendingPersistence() const;
  const platform::SerialQueue& serialQueue() const { return m_serialQueue; }

  // File writes made by all dictionaries of this process (probes, tests).
  static int64_t writeCount();

 private:
  explicit APMPersistentDictionary(std::string filePath);
  void changedLocked();

  const std::string m_filePath;
  mutable std::mutex m_mutex;
  platform::Dictionary m_content;
  bool m_hasPendingPersistence = false;
  const platform::SerialQueue m_serialQueue;
};

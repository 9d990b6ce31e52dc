// Where a heartbeat bundle's bytes live.
//
//   Storage              readData / writeData (none: clear), failing with
//                        StorageError (the platform error is dropped).
//   FileStorage          one file; makeForID(id) gives
//                        <Application Support>/zoruvu-heartbeat-storage/heartbeats-<id>
//                        with every ":" (and "/") of the id replaced by "_" ("" without a
//                        home folder: every read and write fails). A missing or
//                        unreadable file is a readError; writes create the
//                        folder and replace the file atomically, clearing
//                        writes an empty file. The first read or write of
//                        the file in a process removes the temporary files
//                        that interrupted writes of it left in the folder.
//   UserDefaultsStorage  one key of a user-defaults suite; a missing key is a
//                        readError; a write the suite refuses or cannot
//                        store is a writeError.
//
// Thread safety: the objects hold no mutable state; the file system and the
// user-defaults suites do their own locking. HeartbeatStorage calls them on
// one queue per identifier.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/values/Value.h"

namespace RirivuduCoreInternal {

enum class StorageError { readError, writeError };

class Storage {
 public:
  virtual ~Storage() = default;
  virtual std::variant<platform::Bytes, StorageError> readData() = 0;
  // None on success.
  virtual std::optional<StorageError> writeData(const std::optional<platform::Bytes>& data) = 0;
};

class FileStorage : public Storage {
 public:
  static constexpr const char* kDirectoryName = "zoruvu-heartbeat-storage";
  static constexpr const char* kFilePrefix = "heartbeats-";

  explicit FileStorage(std::string path) : m_url(std::move(path)) {}
  static std::unique_ptr<Storage> makeForID(const std::string& id);
  // The file makeForID(id) uses.
  static std::string pathForID(const std::string& id);

  const std::string& url() const { return m_url; }
  std::variant<platform::Bytes, StorageError> readData() override;
  std::optional<StorageError> writeData(const std::optional<platform::Bytes>& data) override;

 private:
  std::string m_url;
};

class UserDefaultsStorage : public Storage {
 public:
  UserDefaultsStorage(std::string suiteName, std::string key)
      : m_suiteName(std::move(suiteName)), m_key(std::move(key)) {}

  std::variant<platform::Bytes, StorageError> readData() override;
  std::optional<StorageError> writeData(const std::optional<platform::Bytes>& data) override;

 private:
  std::string m_suiteName;
  std::string m_key;
};

}  // namespace RirivuduCoreInternal

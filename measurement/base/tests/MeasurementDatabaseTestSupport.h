// Helpers for tests of the measurement database: a world with settings,
// persisted configuration and a virtual clock; plain sqlite3 access to the
// file beside the database; bundles of a chosen encoded size.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/base/tests/RemoteConfigTestSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"

namespace measurementtest {

class DatabaseWorld {
 public:
  explicit DatabaseWorld(std::vector<std::pair<std::string, std::string>> settings = {}) {
    m_clock = std::make_shared<platform::VirtualClock>();
    platform::Clock::setCurrent(m_clock);
    m_persisted = APMPersistedConfig::initWithSuiteName("measurement-database-test");
    useSettings(std::move(settings));
  }

  // Settings from a configuration with these entries (key, value).
  void useSettings(std::vector<std::pair<std::string, std::string>> settings) {
    std::shared_ptr<APMRemoteConfig> config = APMRemoteConfig::initWithAppID(
        MeasurementTestEnvironment::kAppID, {}, configuration(MeasurementTestEnvironment::kAppID, settings),
        m_persisted, nullptr);
    APMEngineServices::setRemoteConfigProvider([config] { return config; });
  }

  std::shared_ptr<APMDatabase> open(platform::Error* error = nullptr) {
    return APMDatabase::initWithDatabaseName(APMDatabase::kDatabaseName, m_persisted, error);
  }

  static std::string path() { return APMApplicationSupportPath(APMDatabase::kDatabaseName); }

  const std::shared_ptr<platform::VirtualClock>& clock() const { return m_clock; }
  const std::shared_ptr<APMPersistedConfig>& persisted() const { return m_persisted; }

  MeasurementTestEnvironment env;

 private:
  std::shared_ptr<platform::VirtualClock> m_clock;
  std::shared_ptr<APMPersistedConfig> m_persisted;
};

// A plain connection of the sqlite3 library to a file, for writing old
// formats and reading what is really stored.
class RawConnection {
 public:
  explicit RawConnection(const std::string& path) {
    EXPECT_FALSE(platform::fs::createDirectory(platform::fs::parentPath(path)));
    EXPECT_EQ(sqlite3_open(path.c_str(), &m_db), SQLITE_OK);
  }
  ~RawConnection() { sqlite3_close(m_db); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  void exec(const std::string& sql) {
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << sql << ": " << (message ? message : "");
    sqlite3_free(message);
  }
  // The rows of a query, each column as text ("NULL" for SQL NULL).
  std::vector<std::vector<std::string>> rows(const std::string& sql) {
    std::vector<std::vector<std::string>> result;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const unsigned char* text = sqlite3_column_text(statement, column);
        row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "NULL");
      }
      result.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return result;
  }
  int64_t count(const std::string& table) { return std::stoll(rows("SELECT count(1) FROM " + table).at(0).at(0)); }

 private:
  sqlite3* m_db = nullptr;
};

// A bundle with the app ID and end time (milliseconds) whose encoding is
// exactly `size` bytes (padding the app ID).
inline std::shared_ptr<APMPBMeasurementBundle> bundleOfSize(size_t size, int64_t endMilliseconds) {
  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetInt64(bundle.get(), APMPBMeasurementBundleSlot::kEndTimestamp, endMilliseconds);
  for (size_t length = 1; length < size; ++length) {
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kAppID, std::string(length, 'a'));
    if (bundle->protoBuffer().value_or(platform::Bytes()).size() == size) return bundle;
  }
  ADD_FAILURE() << "no bundle of " << size << " bytes";
  return bundle;
}

}  // namespace measurementtest

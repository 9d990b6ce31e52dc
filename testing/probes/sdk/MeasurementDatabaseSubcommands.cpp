// Measurement database subcommands: db-open, db-hold, db-event, db-fill,
// db-metadata, db-bundle, db-bundles, db-trim, db-odm, db-day.
//
// One APMDatabase per process, opened (as the engine does: a second attempt
// after a first that gave nothing) by the first of these subcommands, with
// the shared persisted configuration; every call runs on a scheduler labelled
// "com.zoruvu.vuve.worker". Settings are the seam's (settings-config installs
// others). Errors print "=> error DOMAIN CODE DESCRIPTION".
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMEvent.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/text/NumberText.h"
#include "platform/time/Clock.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

int badArgument(const std::string& message) {
  result("error: " + message);
  return 2;
}

int printError(const platform::Error& error) {
  result("error " + error.domain + " " + std::to_string(error.code) + " " + error.localizedDescription());
  return 1;
}

const APMScheduler& scheduler() {
  static const APMScheduler* worker = new APMScheduler("com.zoruvu.vuve.worker");
  return *worker;
}

// Runs `work` on the worker queue and waits for it.
template <class Work>
void onWorker(const char* blockID, const Work& work) {
  scheduler().dispatchSyncOnWorkerQueueBlockID(blockID, [&] { work(); });
}

struct Opened {
  std::shared_ptr<APMDatabase> database;
  platform::Error error;
};

// The process's database, opened at the first call.
const Opened& opened() {
  static Opened* state = [] {
    auto* made = new Opened;
    startedMonitor();
    std::shared_ptr<APMPersistedConfig> persisted = sharedPersistedConfig();
    onWorker("open", [&] {
      for (int attempt = 0; attempt < 2 && !made->database; ++attempt) {
        made->error = platform::Error();
        made->database = APMDatabase::initWithDatabaseName(APMDatabase::kDatabaseName, persisted, &made->error);
      }
      if (!made->database && made->error.domain.empty()) {
        made->error = apm_errorWithCode(2, "Failed to open the measurement database");
      }
    });
    // Closed on the worker queue before the probe exits.
    atFinish([made] { onWorker("close", [made] { made->database.reset(); }); });
    return made;
  }();
  return *state;
}

// The open database, or none after printing the opening error.
APMDatabase* database() {
  const Opened& state = opened();
  if (!state.database) printError(state.error);
  return state.database.get();
}

std::optional<bool> flagArgument(const std::string& argument) {
  if (argument == "0") return false;
  if (argument == "1") return true;
  return std::nullopt;
}

std::optional<int64_t> integerArgument(const std::string& argument) {
  return platform::NumberText::parseInt64(argument);
}

int64_t lastRowID(APMDatabase& db) { return sqlite3_last_insert_rowid(db.sqliteStore()->sqliteHandle()); }

int dbOpen(const std::vector<std::string>&) {
  const Opened& state = opened();
  if (!state.database) return printError(state.error);
  result("ok " + state.database->sqliteStore()->databasePath());
  return 0;
}

int dbHold(const std::vector<std::string>& arguments) {
  const std::optional<double> seconds = platform::NumberText::parseDouble(arguments[0]);
  if (!seconds || *seconds < 0) return badArgument("SECONDS must be a number of seconds");
  if (database() == nullptr) return 1;
  std::this_thread::sleep_for(std::chrono::duration<double>(*seconds));
  result("released");
  return 0;
}

// db-event ORIGIN NAME TIMESTAMP JSON FINGERPRINT REALTIME
int dbEvent(const std::vector<std::string>& arguments) {
  const std::optional<double> timestamp = platform::NumberText::parseDouble(arguments[2]);
  const std::optional<int64_t> fingerprint = integerArgument(arguments[4]);
  const std::optional<bool> realtime = flagArgument(arguments[5]);
  if (!timestamp || !fingerprint || !realtime) {
    return badArgument("TIMESTAMP must be a number, FINGERPRINT an integer, REALTIME 0 or 1");
  }
  std::string jsonError;
  std::optional<platform::Value> json = parseJsonArgument(arguments[3], jsonError);
  if (!json || !json->isDictionary()) return badArgument(json ? "JSON must be an object" : jsonError);
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  std::shared_ptr<APMEvent> event =
      APMEvent::initWithOrigin(arguments[0], false, arguments[1], *timestamp, 0, *json->asDictionary());
  if (!event) {
    result("nil");
    return 1;
  }
  platform::Error error;
  bool inserted = false;
  int64_t rowID = 0;
  onWorker("db-event", [&] {
    inserted = db->insertRawEvent(event.get(), *fingerprint, *realtime, &error);
    rowID = lastRowID(*db);
  });
  if (!inserted) return printError(error);
  result("rowid " + std::to_string(rowID));
  return 0;
}

// db-fill N: N events in one transaction.
int dbFill(const std::vector<std::string>& arguments) {
  const std::optional<int64_t> count = integerArgument(arguments[0]);
  if (!count || *count < 1) return badArgument("N must be a positive integer");
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  std::shared_ptr<APMEvent> event =
      APMEvent::initWithOrigin("auto", false, "_e", platform::Clock::current()->now(), 0, {});
  platform::Error error;
  bool filled = false;
  int64_t first = 0;
  int64_t last = 0;
  onWorker("db-fill", [&] {
    filled = db->performTransaction([&] {
      for (int64_t index = 0; index < *count; ++index) {
        if (!db->insertRawEvent(event.get(), 0, false, &error)) return false;
        if (index == 0) first = lastRowID(*db);
      }
      last = lastRowID(*db);
      return true;
    });
  });
  if (!filled) return printError(error.domain.empty() ? apm_errorWithCode(3, "Transaction failed") : error);
  result("rowids " + std::to_string(first) + ".." + std::to_string(last));
  return 0;
}

int dbMetadata(const std::vector<std::string>& arguments) {
  auto bundle = std::dynamic_pointer_cast<APMPBMeasurementBundle>(
      wireMessageFromSpec("MeasurementBundle", arguments[0]));
  if (!bundle) return 2;
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  platform::Error error;
  bool stored = false;
  onWorker("db-metadata", [&] { stored = db->insertIfNotExistsRawEventMetadata(*bundle, &error); });
  if (!stored) return printError(error);
  result("fingerprint " + std::to_string(apm_64LSBMD5(bundle->protoBuffer().value_or(platform::Bytes()))));
  return 0;
}

int dbBundle(const std::vector<std::string>& arguments) {
  const std::optional<bool> realtime = flagArgument(arguments[1]);
  if (!realtime) return badArgument("REALTIME must be 0 or 1");
  auto bundle = std::dynamic_pointer_cast<APMPBMeasurementBundle>(
      wireMessageFromSpec("MeasurementBundle", arguments[0]));
  if (!bundle) return 2;
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  platform::Error error;
  bool stored = false;
  onWorker("db-bundle", [&] { stored = db->insertBundle(*bundle, *realtime, &error); });
  if (!stored) return printError(error);
  result("ok");
  return 0;
}

int dbBundles(const std::vector<std::string>& arguments) {
  const std::optional<int64_t> count = integerArgument(arguments[0]);
  const std::optional<int64_t> size = integerArgument(arguments[1]);
  if (!count || !size) return badArgument("COUNT and SIZE must be integers");
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  platform::Error error;
  std::optional<std::vector<APMDatabase::QueuedBundle>> bundles;
  onWorker("db-bundles", [&] { bundles = db->queryBundlesWithCountLimit(*count, *size, &error); });
  if (!bundles) return printError(error);
  for (const auto& [bundle, rowID] : *bundles) {
    const size_t length = bundle->protoBuffer().value_or(platform::Bytes()).size();
    result("bundle " + std::to_string(rowID) + " " + std::to_string(length) + " " +
           std::to_string(APMPBGetInt32(bundle.get(), APMPBMeasurementBundleSlot::kRetryCount)));
  }
  result("count " + std::to_string(bundles->size()));
  return 0;
}

int dbTrim(const std::vector<std::string>&) {
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  platform::Error error;
  std::optional<int32_t> deleted;
  onWorker("db-trim", [&] { deleted = db->deleteRawEventsOverAbsoluteLimit(&error); });
  if (!deleted) return printError(error);
  result("deleted " + std::to_string(*deleted));
  return 0;
}

int dbODM(const std::vector<std::string>& arguments) {
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  platform::Error error;
  bool stored = false;
  onWorker("db-odm", [&] {
    stored = db->updateODMValue(arguments[1], arguments[0], platform::Clock::current()->now(), &error);
  });
  if (!stored) return printError(error);
  result("ok");
  return 0;
}

int dbDay(const std::vector<std::string>&) {
  APMDatabase* db = database();
  if (db == nullptr) return 1;
  platform::Error error;
  std::shared_ptr<APMDailyCounts> counts;
  onWorker("db-day", [&] { counts = db->dailyCounts(&error); });
  if (!counts) return printError(error);
  result("day " + std::to_string(counts->day()));
  return 0;
}

}  // namespace

std::vector<Subcommand> measurementDatabaseSubcommands() {
  return {
      {"db-open", 0, "db-open", dbOpen},
      {"db-hold", 1, "db-hold SECONDS", dbHold},
      {"db-event", 6, "db-event ORIGIN NAME TIMESTAMP JSON FINGERPRINT REALTIME", dbEvent},
      {"db-fill", 1, "db-fill N", dbFill},
      {"db-metadata", 1, "db-metadata SPEC", dbMetadata},
      {"db-bundle", 2, "db-bundle SPEC REALTIME", dbBundle},
      {"db-bundles", 2, "db-bundles COUNT SIZE", dbBundles},
      {"db-trim", 0, "db-trim", dbTrim},
      {"db-odm", 2, "db-odm NAME VALUE", dbODM},
      {"db-day", 0, "db-day", dbDay},
  };
}

}  // namespace sdkprobe

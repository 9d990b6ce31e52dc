// Analytics events: how many events per second go from the public interface
// (ROZAdavurudo::logEventWithName, as the application logs them) to stored
// raw events of the measurement database, beside plain sqlite3 inserts of the
// same rows, each in a transaction of its own, into a raw_events table of its
// own file (the reference).
//
// Our side is the whole road: the front's timestamp and operation queues,
// the analytics queue, the engine's worker queue, parameter validation, the
// event's checks, and one exclusive transaction per event that updates the
// day's counts, the event's aggregates and its metadata and inserts the row.
// The reference pays SQLite's cost of the same row (its wire form encoded
// beforehand) with one transaction per row, as the engine commits one per
// event. Both files keep SQLite's default journal and synchronisation.
//
// BM_LogEventsRatio alternates the sides over 15 pairs of 300 events each,
// each pair starting with the other side than the one before, and reports the
// median of our wall time / reference wall time as "ratio", and both rates in
// events per second ("events_per_s", "raw_rows_per_s"). Wall time: our side
// spans several threads, and both sides wait for the disk alike.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "bench/AnalyticsBenchApp.h"
#include "bench/BenchSupport.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/ROZAdavurudo.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/storage/FileSystem.h"
#include "testing/Quiescence.h"

namespace {

constexpr int kEvents = 300;
constexpr int kPairs = 15;

const platform::Dictionary& parameters() {
  static const platform::Dictionary* made = new platform::Dictionary{{"button", "download"}, {"quality", 720}};
  return *made;
}

struct Reference {
  sqlite3* database = nullptr;
  sqlite3_stmt* insert = nullptr;
  platform::Bytes data;  // the event's row bytes, as the engine stores them
  std::string name = "bench_event";
};

Reference& reference() {
  static Reference* made = [] {
    auto* r = new Reference;
    std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin("app", true, r->name, 1700000000.25, 0, parameters());
    if (!event || !event->encodeProtoEvent(r->data, false)) std::abort();
    const std::string path = platform::fs::joinPath(std::getenv("HOME"), "reference.sql");
    if (sqlite3_open(path.c_str(), &r->database) != SQLITE_OK) std::abort();
    sqlite3_exec(r->database,
                 "CREATE TABLE IF NOT EXISTS raw_events (name TEXT NOT NULL, timestamp REAL NOT NULL,"
                 " metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(r->database,
                       "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime)"
                       " VALUES (?, ?, ?, ?, ?)",
                       -1, &r->insert, nullptr);
    return r;
  }();
  return *made;
}

void rawInsertRows() {
  Reference& r = reference();
  for (int index = 0; index < kEvents; ++index) {
    sqlite3_exec(r.database, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
    sqlite3_bind_text(r.insert, 1, r.name.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_double(r.insert, 2, 1700000000.25 + index);
    sqlite3_bind_int64(r.insert, 3, 123456789);
    sqlite3_bind_blob(r.insert, 4, r.data.data(), static_cast<int>(r.data.size()), SQLITE_STATIC);
    sqlite3_bind_int64(r.insert, 5, 0);
    if (sqlite3_step(r.insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(r.insert);
    sqlite3_exec(r.database, "END TRANSACTION", nullptr, nullptr, nullptr);
  }
}

int64_t storedRawEvents() {
  int64_t count = 0;
  APMMeasurement::sharedInstance()->scheduler()->dispatchSyncOnWorkerQueueBlockID("bench", [&count] {
    platform::Error error;
    count = benchsupport::engineDatabase()
                ->sqliteStore()
                ->rowCountForTableWithName("raw_events", &error)
                .value_or(0)
                .longLongValue();
  });
  return count;
}

// Every event of the round reached the table (a cheap count, within the round).
void logEvents() {
  for (int index = 0; index < kEvents; ++index) ROZAdavurudo::logEventWithName("bench_event", parameters());
  if (!testkit::waitForQuiescence(120) || storedRawEvents() != kEvents) std::abort();
}

// Both tables start each round empty (not timed).
void emptyTables() {
  APMMeasurement::sharedInstance()->scheduler()->dispatchSyncOnWorkerQueueBlockID("bench", [] {
    benchsupport::engineDatabase()->sqliteStore()->deleteAllRecordsFromTableWithName("raw_events", nullptr);
  });
  sqlite3_exec(reference().database, "DELETE FROM raw_events", nullptr, nullptr, nullptr);
}

double timed(void (*run)()) {
  emptyTables();
  return benchsupport::wallSeconds(run);
}

void BM_LogEventsRatio(benchmark::State& state) {
  benchsupport::Pairs pairs;
  for (auto _ : state) {
    pairs = benchsupport::alternate(kPairs, [] { return timed(logEvents); }, [] { return timed(rawInsertRows); });
  }
  benchsupport::report(state, pairs, "ours_s", "reference_s");
  state.counters["events_per_s"] = kEvents / benchsupport::Pairs::quantile(pairs.ours, 0.5);
  state.counters["raw_rows_per_s"] = kEvents / benchsupport::Pairs::quantile(pairs.reference, 0.5);
}

BENCHMARK(BM_LogEventsRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchsupport::pinFromArguments(&argc, argv);
  char folder[] = "/tmp/bench-analytics-log-XXXXXX";
  benchsupport::startAnalyticsApplication(folder);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  sqlite3_finalize(reference().insert);
  sqlite3_close(reference().database);
  benchsupport::finishAnalyticsApplication(folder);
  return 0;
}

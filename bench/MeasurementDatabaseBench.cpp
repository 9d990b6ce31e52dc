// Measurement database: 10,000 raw events inserted through APMDatabase inside
// one performTransaction (each event turned into its row: wire form, name
// column, fingerprint), beside plain sqlite3 inserts of the same rows (bytes
// encoded beforehand) with one prepared statement in one transaction into a
// raw_events table of its own file (the reference).
//
// The reference gets the row as it is stored, its data column encoded once
// beforehand: it measures SQLite's own cost of those rows, and the database
// side pays everything from the event on (its wire form, the name column,
// the record, the statement).
//
// BM_DatabaseInsert / BM_RawInsert time each side alone. BM_InsertRatio
// alternates the two sides over 31 pairs, each pair starting with the other
// side than the one before, and reports the median of database time / raw
// time (thread CPU time, so the commit's disk wait and other work on a loaded
// machine stay out) as the counter "ratio" (goal: at most 2, that is at least
// half the raw rate). BM_EventWireFormOnly shows how much of the database
// side is the event's wire form (built, encoded into a reused buffer and
// dropped, as the insert does), which the reference does not pay;
// BM_EventMessageOnly the event's message object alone (built and freed).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/storage/FileSystem.h"

namespace {

constexpr int kEvents = 10000;
constexpr int64_t kFingerprint = 123456789;

struct Fixture {
  std::shared_ptr<APMDatabase> database;
  std::shared_ptr<APMEvent> event;
  // The reference: its own file and the row's bytes.
  sqlite3* raw = nullptr;
  sqlite3_stmt* insert = nullptr;
  platform::Bytes data;
};

Fixture& fixture() {
  static Fixture* made = [] {
    auto* f = new Fixture;
    f->database = APMDatabase::initWithDatabaseName(APMDatabase::kDatabaseName,
                                                    APMPersistedConfig::initWithSuiteName("bench"), nullptr);
    if (!f->database) std::abort();
    f->event = APMEvent::initWithOrigin("app", false, "purchase", 1700000000.25, 0,
                                        {{"currency", "EUR"}, {"value", 12}, {"item", "subscription"}});
    std::shared_ptr<APMPBEvent> proto = f->event->protoEvent();
    APMPBClearField(proto.get(), APMPBEventSlot::kName);
    f->data = proto->protoBuffer().value();
    // The insert's own encoding of the row must be these very bytes.
    platform::Bytes inserted;
    if (!f->event->encodeProtoEvent(inserted, false) || inserted != f->data) std::abort();
    const std::string path = f->database->sqliteStore()->databasePath() + ".reference";
    if (sqlite3_open(path.c_str(), &f->raw) != SQLITE_OK) std::abort();
    sqlite3_exec(f->raw,
                 "CREATE TABLE IF NOT EXISTS raw_events (name TEXT NOT NULL, timestamp REAL NOT NULL,"
                 " metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL, is_realtime INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(f->raw,
                       "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime)"
                       " VALUES (?, ?, ?, ?, ?)",
                       -1, &f->insert, nullptr);
    return f;
  }();
  return *made;
}

void databaseInsertOnce() {
  Fixture& f = fixture();
  const bool stored = f.database->performTransaction([&] {
    for (int index = 0; index < kEvents; ++index) {
      if (!f.database->insertRawEvent(f.event.get(), kFingerprint, false, nullptr)) return false;
    }
    return true;
  });
  if (!stored) std::abort();
}

void rawInsertOnce() {
  Fixture& f = fixture();
  sqlite3_exec(f.raw, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
  for (int index = 0; index < kEvents; ++index) {
    sqlite3_bind_text(f.insert, 1, f.event->name().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(f.insert, 2, f.event->timestamp());
    sqlite3_bind_int64(f.insert, 3, kFingerprint);
    sqlite3_bind_blob(f.insert, 4, f.data.data(), static_cast<int>(f.data.size()), SQLITE_STATIC);
    sqlite3_bind_int64(f.insert, 5, 0);
    if (sqlite3_step(f.insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(f.insert);
  }
  sqlite3_exec(f.raw, "END TRANSACTION", nullptr, nullptr, nullptr);
}

// Both tables start each round empty (not timed).
void emptyTables() {
  Fixture& f = fixture();
  f.database->sqliteStore()->deleteAllRecordsFromTableWithName("raw_events", nullptr);
  sqlite3_exec(f.raw, "DELETE FROM raw_events", nullptr, nullptr, nullptr);
}

void BM_DatabaseInsert(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    emptyTables();
    state.ResumeTiming();
    databaseInsertOnce();
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}

void BM_RawInsert(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    emptyTables();
    state.ResumeTiming();
    rawInsertOnce();
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}

// The event's message object alone (built from the event and freed).
void BM_EventMessageOnly(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    for (int index = 0; index < kEvents; ++index) benchmark::DoNotOptimize(f.event->protoEvent());
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}

// What the database side spends on the row's wire form (the reference
// inserts bytes encoded beforehand): encoded as the insert does it.
void BM_EventWireFormOnly(benchmark::State& state) {
  Fixture& f = fixture();
  platform::Bytes bytes;
  for (auto _ : state) {
    for (int index = 0; index < kEvents; ++index) {
      if (!f.event->encodeProtoEvent(bytes, false)) std::abort();
      benchmark::DoNotOptimize(bytes.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}

BENCHMARK(BM_DatabaseInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventMessageOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventWireFormOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawInsert)->Unit(benchmark::kMillisecond);

double timed(void (*run)()) {
  emptyTables();
  const double start = benchsupport::threadCpuSeconds();
  run();
  return benchsupport::threadCpuSeconds() - start;
}

void BM_InsertRatio(benchmark::State& state) {
  constexpr int kPairs = 31;
  std::vector<double> ratios;
  for (auto _ : state) {
    ratios.clear();
    for (int pair = 0; pair < kPairs; ++pair) {
      double ours = 0;
      double reference = 0;
      if (pair % 2 == 0) {
        ours = timed(databaseInsertOnce);
        reference = timed(rawInsertOnce);
      } else {
        reference = timed(rawInsertOnce);
        ours = timed(databaseInsertOnce);
      }
      ratios.push_back(reference > 0 ? ours / reference : 0);
    }
  }
  std::nth_element(ratios.begin(), ratios.begin() + kPairs / 2, ratios.end());
  state.counters["ratio"] = ratios[kPairs / 2];
}

BENCHMARK(BM_InsertRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // A home of its own, removed at the end.
  char folder[] = "/tmp/bench-measurement-database-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  setenv("HOME", folder, 1);
  setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (std::string(folder) + "/cache").c_str(), 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Fixture& f = fixture();
  sqlite3_finalize(f.insert);
  sqlite3_close(f.raw);
  f.database.reset();
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  platform::fs::removeItem(folder);
  return 0;
}

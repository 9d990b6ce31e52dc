// Remote configuration: activating 3,000 fetched keys through the facade
// (from activateWithCompletion until its completion, which comes once the
// activation's one transaction committed), beside one plain sqlite3
// transaction of the same rows (delete the namespace's active rows, insert
// the 3,000 with one prepared statement) into a table of its own file, the
// reference. Both sides write and sync the same rows, so the figure is what
// the activation adds to SQLite's own cost.
//
// BM_ActivationRatio alternates the two sides over 21 pairs, each pair
// starting with the other side than the one before, and reports the median
// of activation time / reference time (wall time: the commit's sync is part
// of both) as "ratio" (goal: at most 3), with both medians in milliseconds.
// BM_ReadDuringActivation starts an activation and reads a value at once
// from the same thread, 21 times, and reports the median and the longest
// read in milliseconds ("read_ms", "read_max_ms"; goal: under 50) beside the
// same read with nothing going on ("idle_read_ms").
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIROptions.h"
#include "sdk/remote-config/ZUVUduvedOrovar.h"

namespace {

constexpr int kKeys = 3000;
constexpr const char* kNamespace = "bench";

struct Fixture {
  std::shared_ptr<platform::VirtualClock> clock = std::make_shared<platform::VirtualClock>(1700000000);
  std::shared_ptr<RCNConfigDBManager> manager;
  std::shared_ptr<RCNConfigContent> content;
  std::shared_ptr<ZUVUduvedOrovar> config;
  RCNConfigRows rows;
  // The reference: its own file and statements.
  sqlite3* raw = nullptr;
  sqlite3_stmt* remove = nullptr;
  sqlite3_stmt* insert = nullptr;
};

Fixture& fixture() {
  static Fixture* made = [] {
    auto* f = new Fixture;
    platform::Clock::setCurrent(f->clock);
    f->manager = RCNConfigDBManager::sharedInstance();
    f->content = RCNConfigContent::sharedInstance();
    auto options = RIROptions::initInternalWithOptionsDictionary(
        platform::Dictionary{{"API_KEY", "bench-key"}, {"ZCM_SENDER_ID", "1"}, {"PROJECT_ID", "bench"},
                             {"ZORUVU_APP_ID", "1:1:ios:bench"}});
    f->config = ZUVUduvedOrovar::initWithAppName("app", options, kNamespace, f->manager, f->content, nullptr);
    platform::Dictionary entries;
    for (int index = 0; index < kKeys; ++index) {
      const std::string key = "key" + std::to_string(index);
      const std::string value = "value of " + key;
      entries.set(key, platform::Value(value));
      f->rows.emplace_back(key, platform::Bytes(value.begin(), value.end()));
    }
    RCNConfigDBWrites writes;
    f->content->updateConfigContentWithResponse(
        platform::Dictionary{{"state", "UPDATE"}, {"entries", platform::Value(entries)}},
        f->config->ririvuduNamespace(), writes);
    f->manager->commitWrites(std::move(writes));
    f->manager->waitForDatabaseOperationQueue();

    const std::string path = f->manager->databasePath() + ".reference";
    if (sqlite3_open(path.c_str(), &f->raw) != SQLITE_OK) std::abort();
    sqlite3_exec(f->raw,
                 "CREATE TABLE IF NOT EXISTS main_active (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, "
                 "namespace TEXT, key TEXT, value BLOB)",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(f->raw, "DELETE FROM main_active WHERE bundle_identifier = ? and namespace = ?", -1,
                       &f->remove, nullptr);
    sqlite3_prepare_v2(f->raw,
                       "INSERT INTO main_active (bundle_identifier, namespace, key, value) values (?, ?, ?, ?)", -1,
                       &f->insert, nullptr);
    return f;
  }();
  return *made;
}

// Makes the fetched values newer than the last activation (not timed).
void newFetch() {
  Fixture& f = fixture();
  f.clock->advance(10);
  f.config->settings()->setLastETagUpdateTime(f.clock->now());
  f.clock->advance(1);
}

std::future<bool> startActivation() {
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> future = done->get_future();
  fixture().config->activateWithCompletion(
      [done](bool changed, std::optional<platform::Error> error) { done->set_value(changed && !error); });
  return future;
}

double activationSeconds() {
  newFetch();
  return benchsupport::wallSeconds([] {
    if (!startActivation().get()) std::abort();
  });
}

double referenceSeconds() {
  Fixture& f = fixture();
  const std::string bundle = f.content->bundleIdentifier();
  const std::string ns = f.config->ririvuduNamespace();
  return benchsupport::wallSeconds([&] {
    sqlite3_exec(f.raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_bind_text(f.remove, 1, bundle.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(f.remove, 2, ns.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(f.remove) != SQLITE_DONE) std::abort();
    sqlite3_reset(f.remove);
    for (const auto& [key, value] : f.rows) {
      sqlite3_bind_text(f.insert, 1, bundle.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(f.insert, 2, ns.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(f.insert, 3, key.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_blob(f.insert, 4, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
      if (sqlite3_step(f.insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(f.insert);
    }
    if (sqlite3_exec(f.raw, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  });
}

void BM_Activation(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    newFetch();
    state.ResumeTiming();
    if (!startActivation().get()) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_ReferenceTransaction(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(referenceSeconds());
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_ActivationRatio(benchmark::State& state) {
  benchsupport::Pairs pairs;
  for (auto _ : state) pairs = benchsupport::alternate(21, activationSeconds, referenceSeconds);
  benchsupport::report(state, pairs, "activation_ms", "reference_ms", 1000);
}

void BM_ReadDuringActivation(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<double> during;
  std::vector<double> idle;
  for (auto _ : state) {
    for (int round = 0; round < 21; ++round) {
      idle.push_back(benchsupport::wallSeconds([&] { benchmark::DoNotOptimize(f.config->configValueForKey("key2999")); }));
      newFetch();
      std::future<bool> activated = startActivation();
      during.push_back(
          benchsupport::wallSeconds([&] { benchmark::DoNotOptimize(f.config->configValueForKey("key2999")); }));
      if (!activated.get()) std::abort();
    }
  }
  state.counters["read_ms"] = benchsupport::Pairs::quantile(during, 0.5) * 1000;
  state.counters["read_max_ms"] = *std::max_element(during.begin(), during.end()) * 1000;
  state.counters["idle_read_ms"] = benchsupport::Pairs::quantile(idle, 0.5) * 1000;
}

BENCHMARK(BM_Activation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceTransaction)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ActivationRatio)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDuringActivation)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // A home of its own, removed at the end.
  char folder[] = "/tmp/bench-remote-config-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  setenv("HOME", folder, 1);
  setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (std::string(folder) + "/cache").c_str(), 1);
  benchsupport::pinFromArguments(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Fixture& f = fixture();
  f.manager->waitForDatabaseOperationQueue();
  sqlite3_finalize(f.remove);
  sqlite3_finalize(f.insert);
  sqlite3_close(f.raw);
  platform::fs::removeItem(folder);
  return 0;
}

// Rows of the remote-configuration database as a later process reads them:
// any bytes in the JSON columns of the fetch metadata, the experiment rows,
// the personalization rows and the rollout rows load as typed values or as
// nothing, never crash. An input is up to twelve fields separated by 0x1e:
//   0-4   device_context, app_context, success_fetch_time,
//         failure_fetch_time, digest_per_ns of the metadata row
//   5-7   experiment_payload, experiment_active_payload, experiment_metadata
//   8-9   personalization rows of the active (0) and fetched (2) source
//   10-11 active_rollout_metadata, fetched_rollout_metadata
// The rows are written with a connection of the target's own; the shared
// manager, settings, content and experiment bookkeeping read them as at a
// start. Checked promises: every value a reader keeps is of its column's
// kind, a column that holds a JSON value of that kind is read back as it is,
// and no restored experiment payload is something other than JSON.
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app/Bundle.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/storage/Json.h"
#include "sdk/remote-config/RCNConfigContent.h"
#include "sdk/remote-config/RCNConfigExperiment.h"
#include "sdk/remote-config/RCNConfigSettings.h"
#include "testing/fuzz/FuzzCheck.h"
#include "testing/fuzz/FuzzHome.h"

namespace {

using platform::Value;

constexpr const char* kNamespace = "ririvudu:app";

// The main bundle's identifier, as the readers ask for it.
const std::string& bundle() {
  static const std::string* identifier =
      new std::string(platform::Bundle::main() ? platform::Bundle::main()->bundleIdentifier().value_or("") : "");
  return *identifier;
}

std::shared_ptr<RCNConfigDBManager>& manager() {
  static auto* shared = new std::shared_ptr<RCNConfigDBManager>();
  return *shared;
}

sqlite3*& writer() {
  static sqlite3* db = nullptr;
  return db;
}

void run(const char* sql, const std::vector<std::string>& texts, const std::vector<std::string_view>& blobs) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(writer(), sql, -1, &statement, nullptr) != SQLITE_OK) std::abort();
  int index = 1;
  for (const std::string& text : texts) sqlite3_bind_text(statement, index++, text.c_str(), -1, SQLITE_TRANSIENT);
  for (std::string_view blob : blobs) {
    sqlite3_bind_blob(statement, index++, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
  }
  FUZZ_CHECK(sqlite3_step(statement) == SQLITE_DONE);
  sqlite3_finalize(statement);
}

std::optional<Value> json(std::string_view bytes) {
  platform::Result<Value> parsed = platform::Json::parse(bytes);
  if (!parsed.ok()) return std::nullopt;
  return parsed.value();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::useTemporaryHome("rc-rows");
  manager() = RCNConfigDBManager::create();
  manager()->waitForDatabaseOperationQueue();
  if (!manager()->isOpen()) std::abort();
  if (sqlite3_open(manager()->databasePath().c_str(), &writer()) != SQLITE_OK) std::abort();
  sqlite3_exec(writer(), "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> fields;
  for (size_t from = 0;;) {
    const size_t at = input.find('\x1e', from);
    fields.push_back(input.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos || fields.size() == 12) break;
    from = at + 1;
  }
  fields.resize(12);

  sqlite3_exec(writer(), "BEGIN; DELETE FROM fetch_metadata_v2; DELETE FROM experiment; DELETE FROM personalization; "
               "DELETE FROM rollout;", nullptr, nullptr, nullptr);
  run("INSERT INTO fetch_metadata_v2 (bundle_identifier, namespace, fetch_time, device_context, app_context, "
      "success_fetch_time, failure_fetch_time, digest_per_ns, last_fetch_status, last_fetch_error, last_apply_time, "
      "last_set_defaults_time) VALUES (?, ?, 1, ?, ?, ?, ?, ?, 1, 0, 2, 3)",
      {bundle(), kNamespace}, {fields[0], fields[1], fields[2], fields[3], fields[4]});
  const char* experimentKeys[] = {RCNExperimentTableKeyPayload, RCNExperimentTableKeyActivePayload,
                                  RCNExperimentTableKeyMetadata};
  for (int index = 0; index < 3; ++index) {
    run("INSERT INTO experiment (key, value) VALUES (?, ?)", {experimentKeys[index]}, {fields[5 + index]});
  }
  run("INSERT INTO personalization (key, value) VALUES (0, ?)", {}, {fields[8]});
  run("INSERT INTO personalization (key, value) VALUES (2, ?)", {}, {fields[9]});
  run("INSERT INTO rollout (key, value) VALUES (?, ?)", {RCNRolloutTableKeyActiveMetadata}, {fields[10]});
  run("INSERT INTO rollout (key, value) VALUES (?, ?)", {RCNRolloutTableKeyFetchedMetadata}, {fields[11]});
  FUZZ_CHECK(sqlite3_exec(writer(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK);

  // The fetch metadata, as the settings take it.
  RCNConfigSettings settings(manager(), kNamespace, "app", std::nullopt);
  settings.loadConfigFromMetadataTable();
  const std::optional<Value> context = json(fields[0]);
  if (context && context->isDictionary()) FUZZ_CHECK(Value(settings.deviceContext()) == *context);
  const std::optional<Value> successes = json(fields[2]);
  if (successes && successes->isArray()) FUZZ_CHECK(Value(settings.successFetchTimes()) == *successes);
  FUZZ_CHECK(settings.lastApplyTimeInterval() == 2);

  // Personalization and rollouts, as the content loads them at its start.
  std::shared_ptr<RCNConfigContent> content = RCNConfigContent::initWithDBManager(manager());
  FUZZ_CHECK(content->checkAndWaitForInitialDatabaseLoad());
  const std::optional<Value> personalization = json(fields[8]);
  const platform::Dictionary active = content->activePersonalization();
  if (personalization && personalization->isDictionary()) {
    FUZZ_CHECK(Value(active) == *personalization);
  } else {
    FUZZ_CHECK(active.empty());
  }
  const std::optional<Value> rollouts = json(fields[10]);
  if (rollouts && rollouts->isArray()) FUZZ_CHECK(Value(content->activeRolloutMetadata()) == *rollouts);

  // Experiments, as the bookkeeping restores them.
  platform::SerialQueue queue("fuzz.experiments");
  std::shared_ptr<RCNConfigExperiment> experiment = RCNConfigExperiment::create(manager(), nullptr, queue);
  manager()->waitForDatabaseOperationQueue();
  platform::MainQueue::drain();
  queue.sync([&] {
    for (const auto* list : {&experiment->experimentPayloads(), &experiment->activeExperimentPayloads()}) {
      for (const platform::Bytes& payload : *list) {
        platform::JsonReadOptions options;
        options.allowFragments = true;
        FUZZ_CHECK(platform::Json::parse(payload, options).ok());
      }
    }
    const std::optional<Value> metadata = json(fields[7]);
    if (metadata && metadata->isDictionary()) FUZZ_CHECK(Value(experiment->experimentMetadata()) == *metadata);
  });
  return 0;
}

// Bundling and the upload batch: 1000 raw events of the measurement
// database become one queued bundle (bundleRawEvents: the group read and
// checked, counts and aggregates, the bundle encoded, gzipped and queued, the
// raw events deleted, in one transaction), which is read back from the queue,
// composed into an upload batch and gzipped as the HTTP helper sends it;
// beside the reference: pb_encode of the same events in the same bundle and
// batch messages from plain vectors, then zlib's gzip of those bytes.
//
// BM_BundleBatchRatio alternates the sides over 11 pairs of one batch each,
// each pair starting with the other side than the one before, and reports the
// median of our wall time / reference wall time as "ratio", with both medians
// in milliseconds. The raw events are written before each of our rounds and
// the queue emptied after it, untimed. Wall time: both sides wait for nothing
// but the CPU and our side's database file.
#include <benchmark/benchmark.h>
#include <pb_encode.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/AnalyticsBenchApp.h"
#include "bench/BenchSupport.h"
#include "measurement.pb.h"
#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMUploadBatch.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULGzip.h"

namespace {

constexpr int kEvents = 1000;
constexpr int kPairs = 11;

// The events' time: within the hour of the run's start (so that none counts
// as stale data), the same for both sides.
double startTime() {
  static const double start = std::floor(platform::Clock::current()->now() / 3600) * 3600;
  return start;
}

// --- the reference: plain vectors, pb_encode, zlib ------------------------------

struct PlainParam {
  std::string name;
  std::string text;
  bool isInteger = false;
  int64_t integer = 0;
};

struct PlainEvent {
  std::string name;
  int64_t timestamp = 0;
  std::vector<PlainParam> params;
};

const std::vector<PlainEvent>& plainEvents() {
  static const std::vector<PlainEvent>* made = [] {
    auto* events = new std::vector<PlainEvent>;
    for (int index = 0; index < kEvents; ++index) {
      events->push_back({"tick",
                         static_cast<int64_t>((startTime() + index * 0.25) * 1000),
                         {{"_o", "app", false, 0}, {"quality", "", true, 720}, {"n", "", true, index}}});
    }
    return events;
  }();
  return *made;
}

bool encodeText(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* text = static_cast<const std::string*>(*arg);
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_string(stream, reinterpret_cast<const pb_byte_t*>(text->data()), text->size());
}

pb_callback_t textCallback(const std::string& text) {
  pb_callback_t callback{};
  callback.funcs.encode = encodeText;
  callback.arg = const_cast<std::string*>(&text);
  return callback;
}

bool encodeParams(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  for (const PlainParam& param : *static_cast<const std::vector<PlainParam>*>(*arg)) {
    apm_EventParam message = apm_EventParam_init_zero;
    message.field_1 = textCallback(param.name);
    if (param.isInteger) {
      message.has_field_3 = true;
      message.field_3 = param.integer;
    } else {
      message.field_2 = textCallback(param.text);
    }
    if (!pb_encode_tag_for_field(stream, field) || !pb_encode_submessage(stream, apm_EventParam_fields, &message)) {
      return false;
    }
  }
  return true;
}

bool encodeEvents(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  for (const PlainEvent& event : *static_cast<const std::vector<PlainEvent>*>(*arg)) {
    apm_Event message = apm_Event_init_zero;
    message.params.funcs.encode = encodeParams;
    message.params.arg = const_cast<std::vector<PlainParam>*>(&event.params);
    message.field_2 = textCallback(event.name);
    message.has_field_3 = true;
    message.field_3 = event.timestamp;
    if (!pb_encode_tag_for_field(stream, field) || !pb_encode_submessage(stream, apm_Event_fields, &message)) {
      return false;
    }
  }
  return true;
}

const std::string kPlatform = "macos";
const std::string kAppID = "com.tavix.app";

bool encodeBundles(pb_ostream_t* stream, const pb_field_t* field, void* const*) {
  apm_MeasurementBundle bundle = apm_MeasurementBundle_init_zero;
  bundle.has_field_1 = true;
  bundle.field_1 = 1;
  bundle.events.funcs.encode = encodeEvents;
  bundle.events.arg = const_cast<std::vector<PlainEvent>*>(&plainEvents());
  bundle.has_field_4 = true;
  bundle.field_4 = static_cast<int64_t>(startTime() * 1000) + 600000;
  bundle.has_field_5 = true;
  bundle.field_5 = plainEvents().front().timestamp;
  bundle.has_field_6 = true;
  bundle.field_6 = plainEvents().back().timestamp;
  bundle.field_8 = textCallback(kPlatform);
  bundle.field_14 = textCallback(kAppID);
  bundle.has_field_17 = true;
  bundle.field_17 = 120500;
  bundle.has_field_18 = true;
  bundle.field_18 = 120500;
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_submessage(stream, apm_MeasurementBundle_fields, &bundle);
}

std::vector<uint8_t> gzipped(const std::vector<uint8_t>& plain) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::vector<uint8_t> out(deflateBound(&stream, plain.size()));
  stream.next_in = const_cast<uint8_t*>(plain.data());
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

size_t referenceBatch() {
  apm_MeasurementBatch batch = apm_MeasurementBatch_init_zero;
  batch.bundles.funcs.encode = encodeBundles;
  size_t size = 0;
  if (!pb_get_encoded_size(&size, apm_MeasurementBatch_fields, &batch)) std::abort();
  std::vector<uint8_t> bytes(size);
  pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&stream, apm_MeasurementBatch_fields, &batch)) std::abort();
  return gzipped(bytes).size();
}

// --- our side: the engine's bundling and batch -------------------------------------

void onWorkerQueue(const std::function<void(APMMeasurement&)>& work) {
  std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
  engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("bench", [&] { work(*engine); });
}

// The round's raw events, as the event road stores them (untimed).
void writeRawEvents() {
  onWorkerQueue([](APMMeasurement& engine) {
    std::shared_ptr<APMDatabase> db = engine.database();
    std::shared_ptr<APMPBMeasurementBundle> metadata = engine.createRawEventMetadataWithUserAttributes({});
    const int64_t fingerprint = apm_64LSBMD5(*metadata->protoBuffer());
    const bool written = db->performTransaction([&] {
      platform::Error error;
      if (!db->insertIfNotExistsRawEventMetadata(*metadata, &error)) return false;
      for (int index = 0; index < kEvents; ++index) {
        std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin(
            "app", false, "tick", startTime() + index * 0.25, 0,
            platform::Dictionary{{"_o", APMValue::objectWithString("app")},
                                 {"quality", APMValue::objectWithInt64(720)},
                                 {"n", APMValue::objectWithInt64(index)}});
        if (!event || !db->insertRawEvent(event.get(), fingerprint, false, &error)) return false;
      }
      return true;
    });
    if (!written) std::abort();
  });
}

size_t ourBatch() {
  size_t size = 0;
  onWorkerQueue([&size](APMMeasurement& engine) {
    if (!engine.bundleRawEvents()) std::abort();
    platform::Error error;
    std::optional<std::vector<APMDatabase::QueuedBundle>> queued =
        engine.database()->queryBundlesWithCountLimit(100, 10485760, &error);
    if (!queued || queued->size() != 1) std::abort();
    APMUploadBatch batch = APMComposeUploadBatch(*queued, static_cast<int64_t>(startTime() * 1000) + 600000,
                                                 APMIdentity::redIveduruvezaLibraryVersion(), {}, false, nullptr,
                                                 std::nullopt);
    std::optional<platform::Bytes> body = batch.payload ? ZULGzip::zul_dataByGzippingData(*batch.payload, &error)
                                                        : std::nullopt;
    if (!body) std::abort();
    size = body->size();
  });
  return size;
}

void emptyQueue() {
  onWorkerQueue([](APMMeasurement& engine) {
    engine.database()->sqliteStore()->deleteAllRecordsFromTableWithName("queue", nullptr);
  });
}

void BM_BundleBatchRatio(benchmark::State& state) {
  benchsupport::Pairs pairs;
  for (auto _ : state) {
    pairs = benchsupport::alternate(
        kPairs,
        [] {
          writeRawEvents();
          const double seconds = benchsupport::wallSeconds([] { benchmark::DoNotOptimize(ourBatch()); });
          emptyQueue();
          return seconds;
        },
        [] { return benchsupport::wallSeconds([] { benchmark::DoNotOptimize(referenceBatch()); }); });
  }
  benchsupport::report(state, pairs, "ours_ms", "reference_ms", 1000);
}

BENCHMARK(BM_BundleBatchRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchsupport::pinFromArguments(&argc, argv);
  char folder[] = "/tmp/bench-bundle-batch-XXXXXX";
  benchsupport::startAnalyticsApplication(folder);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  benchsupport::finishAnalyticsApplication(folder);
  return 0;
}

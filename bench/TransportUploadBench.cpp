// Event transport upload body: encoding a batch of 1,000 stored events as the
// upload request and gzipping it (ZDTCCTEncodeBatchedLogRequest and
// ZDTCCTCompressionHelper, what an upload operation does), beside raw
// pb_encode of the same request structures, filled once beforehand, and raw
// zlib deflate of its bytes (the reference).
//
// BM_Ours and BM_Reference time each side alone. BM_Ratio alternates the two
// sides over 101 pairs (the order flips every pair; see BenchSupport.h) and
// reports the median of ours / reference thread CPU time as "ratio", with its
// quartiles and both sides' medians in milliseconds.
#include <benchmark/benchmark.h>
#include <pb_decode.h>
#include <pb_encode.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <ctime>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "sdk/transport/ZDTCCTCompressionHelper.h"
#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "zdt_cct.pb.h"

namespace {

constexpr int kEvents = 1000;

// 1,000 events of two log sources, each with a 60-byte payload (the size of a
// delivery-metrics record), a clock snapshot and, for every other one,
// product data.
ZDTCOREventSet makeEvents() {
  ZDTCOREventSet events;
  for (int index = 0; index < kEvents; ++index) {
    std::optional<ZDTCORProductData> product;
    if (index % 2 == 0) product = ZDTCORProductData(index);
    auto event = ZDTCOREvent::initWithMappingID(index % 4 == 0 ? "1710" : "1249", product, 1000);
    std::string text = "message-" + std::to_string(index) + "|instance-0123456789abcdef|com.tavix.app|";
    text.resize(60, 'x');
    event->setDataObject(std::make_shared<ZDTCORBytesDataObject>(platform::Bytes(text.begin(), text.end())));
    event->setClockSnapshot(ZDTCORClock(1700000000000 + index, 3600, 1699990000000000000, 10000000000 + index));
    events.push_back(event);
  }
  return events;
}

pb_bytes_array_t* copyBytes(const void* data, size_t size) {
  auto* array = static_cast<pb_bytes_array_t*>(std::malloc(PB_BYTES_ARRAY_T_ALLOCSIZE(size)));
  array->size = static_cast<pb_size_t>(size);
  std::memcpy(array->bytes, data, size);
  return array;
}

// The same request as nanopb structures, filled once.
struct Reference {
  zdt_cct_BatchedLogRequest request = zdt_cct_BatchedLogRequest_init_zero;

  explicit Reference(const ZDTCOREventSet& events) {
    std::map<std::string, ZDTCOREventSet> groups;
    for (const auto& event : events) groups[event->mappingID()].push_back(event);
    request.source_batches_count = static_cast<pb_size_t>(groups.size());
    request.source_batches =
        static_cast<zdt_cct_LogRequest*>(std::calloc(groups.size(), sizeof(zdt_cct_LogRequest)));
    size_t entryIndex = 0;
    for (const auto& [mappingID, group] : groups) {
      zdt_cct_LogRequest& entry = request.source_batches[entryIndex++];
      entry.has_client = true;
      entry.client.has_client_kind = true;
      entry.client.client_kind = 15;
      entry.client.has_desktop_device = true;
      entry.client.desktop_device.os_version_short = copyBytes("6.1", 3);
      entry.client.desktop_device.os_version_full = copyBytes("6.1.0", 5);
      entry.client.desktop_device.app_build = copyBytes("1", 1);
      entry.client.desktop_device.app_id = copyBytes("com.tavix.app", 13);
      entry.has_source_id = true;
      entry.source_id = std::stoi(mappingID);
      entry.has_sent_at_ms = entry.has_sent_uptime_ms = true;
      entry.sent_at_ms = 1700000000000;
      entry.sent_uptime_ms = 10000;
      entry.events_count = static_cast<pb_size_t>(group.size());
      entry.events = static_cast<zdt_cct_LogEvent*>(std::calloc(group.size(), sizeof(zdt_cct_LogEvent)));
      for (size_t i = 0; i < group.size(); ++i) {
        const ZDTCOREvent& source = *group[i];
        zdt_cct_LogEvent& event = entry.events[i];
        event.has_occurred_at_ms = event.has_tz_offset_s = event.has_uptime_ms = true;
        event.occurred_at_ms = source.clockSnapshot()->timeMillis();
        event.tz_offset_s = source.clockSnapshot()->timezoneOffsetSeconds();
        event.uptime_ms = source.clockSnapshot()->uptimeMilliseconds();
        const platform::Bytes& payload = *source.serializedDataObjectBytes();
        event.payload = copyBytes(payload.data(), payload.size());
        if (source.productData()) {
          event.has_compliance = true;
          event.compliance.has_privacy = event.compliance.privacy.has_product_holder = true;
          event.compliance.privacy.product_holder.has_product_id = true;
          event.compliance.privacy.product_holder.product_id = source.productData()->productID();
          event.compliance.has_product_id_origin = true;
          event.compliance.product_id_origin = 5;
        }
      }
    }
  }
  ~Reference() { pb_release(zdt_cct_BatchedLogRequest_fields, &request); }
};

struct Fixture {
  ZDTCOREventSet events = makeEvents();
  Reference reference{events};
};

Fixture& fixture() {
  static Fixture* const shared = new Fixture();
  return *shared;
}

size_t oursOnce() {
  const platform::Bytes encoded = ZDTCCTEncodeBatchedLogRequest(fixture().events);
  std::optional<platform::Bytes> compressed = ZDTCCTCompressionHelper::gzippedData(encoded);
  return compressed ? compressed->size() : 0;
}

size_t referenceOnce() {
  const zdt_cct_BatchedLogRequest& request = fixture().reference.request;
  size_t size = 0;
  pb_get_encoded_size(&size, zdt_cct_BatchedLogRequest_fields, &request);
  std::vector<uint8_t> encoded(size);
  pb_ostream_t stream = pb_ostream_from_buffer(encoded.data(), encoded.size());
  pb_encode(&stream, zdt_cct_BatchedLogRequest_fields, &request);

  z_stream zs{};
  deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&zs, static_cast<uLong>(stream.bytes_written)));
  zs.next_in = encoded.data();
  zs.avail_in = static_cast<uInt>(stream.bytes_written);
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  const size_t written = out.size() - zs.avail_out;
  deflateEnd(&zs);
  return written;
}

void BM_Ours(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(oursOnce());
  state.counters["gzip_bytes"] = static_cast<double>(oursOnce());
}
void BM_Reference(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(referenceOnce());
  state.counters["gzip_bytes"] = static_cast<double>(referenceOnce());
}
BENCHMARK(BM_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond);

// CPU time of this thread, so that other work on a loaded machine does not
// land on one side of a pair only.
double threadSeconds(size_t (*run)()) {
  const double start = benchsupport::threadCpuSeconds();
  benchmark::DoNotOptimize(run());
  return benchsupport::threadCpuSeconds() - start;
}

void BM_Ratio(benchmark::State& state) {
  benchsupport::Pairs pairs;
  for (auto _ : state) {
    pairs = benchsupport::alternate(
        101, [] { return threadSeconds(oursOnce); }, [] { return threadSeconds(referenceOnce); });
  }
  benchsupport::report(state, pairs, "ours_ms", "reference_ms", 1000);
}
BENCHMARK(BM_Ratio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHSUPPORT_MAIN();

// Measurement wire messages: encoding and decoding a bundle of about 8 KB
// (50 events of 5 parameters) through the wrappers and the slot model, each
// beside a reference doing the same work on plain C++ vectors:
//  - encoding: a hand-written one-pass encoder of the same message, whose
//    bytes are checked to be the wrappers' bytes;
//  - decoding: pb_decode of the generated nanopb structures into the vectors.
//
// BM_WrapperEncode / BM_ReferenceEncode and BM_WrapperDecode /
// BM_ReferenceDecode time each side alone. BM_EncodeRatio and BM_DecodeRatio
// alternate the two sides (the order flips every pair) over 101 pairs of
// short batches and report the median of wrapper / reference thread CPU time
// as "ratio", with its quartiles (goal for encoding: at most 1.2).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <pb_decode.h>

#include "bench/BenchSupport.h"
#include "measurement.pb.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

constexpr int kEvents = 50;
constexpr int kParams = 5;

// --- the reference: plain vectors, a hand-written encoder, nanopb decoding -----

struct RawParam {
  std::string name;
  std::string text;
  bool hasInteger = false;
  int64_t integer = 0;
};

struct RawEvent {
  std::string name;
  int64_t timestamp = 0;
  std::vector<RawParam> params;
};

struct RawBundle {
  int32_t protocol = 1;
  int64_t start = 0;
  std::string platformName;
  std::vector<RawEvent> events;
};

RawBundle makeRawBundle() {
  RawBundle bundle;
  bundle.start = 1700000000000;
  bundle.platformName = "macos";
  for (int e = 0; e < kEvents; ++e) {
    RawEvent event{"event_name_" + std::to_string(e), 1700000000000 + e, {}};
    for (int p = 0; p < kParams; ++p) {
      RawParam param{"parameter_" + std::to_string(p), {}, false, 0};
      if (p % 2 == 0) {
        param.text = "value of parameter " + std::to_string(p);
      } else {
        param.hasInteger = true;
        param.integer = e * 1000 + p;
      }
      event.params.push_back(param);
    }
    bundle.events.push_back(event);
  }
  return bundle;
}

// A hand-written one-pass encoder of the same message: it writes from the
// end of its buffer towards the front, last field first, so each
// sub-message's length is known (the bytes just written) when its prefix is
// written, and nothing is sized twice. The bytes are those of the wrappers'
// encoding (checked when the fixture is made).
class BackwardWriter {
 public:
  // Not zeroed: every byte handed out is written first.
  explicit BackwardWriter(size_t capacity)
      : m_buffer(new uint8_t[capacity]), m_capacity(capacity), m_at(m_buffer.get() + capacity) {}

  size_t written() const { return size_t(m_buffer.get() + m_capacity - m_at); }

  void bytes(const void* data, size_t size) {
    room(size);
    m_at -= size;
    std::memcpy(m_at, data, size);
  }
  void varint(uint64_t value) {
    size_t size = 1;
    for (uint64_t rest = value >> 7; rest != 0; rest >>= 7) ++size;
    room(size);
    m_at -= size;
    uint8_t* out = m_at;
    while (value >= 0x80) {
      *out++ = static_cast<uint8_t>(value | 0x80);
      value >>= 7;
    }
    *out = static_cast<uint8_t>(value);
  }
  // Tag and length in front of the bytes written since `from`.
  void delimited(uint32_t tag, size_t from) {
    varint(written() - from);
    varint(uint64_t(tag) << 3 | 2);
  }
  void text(uint32_t tag, const std::string& value) {
    bytes(value.data(), value.size());
    varint(value.size());
    varint(uint64_t(tag) << 3 | 2);
  }
  void integer(uint32_t tag, uint64_t value) {
    varint(value);
    varint(uint64_t(tag) << 3);
  }

  std::vector<uint8_t> take() const { return std::vector<uint8_t>(m_at, m_buffer.get() + m_capacity); }

 private:
  void room(size_t size) {
    if (size <= size_t(m_at - m_buffer.get())) return;
    const size_t used = written();
    const size_t capacity = std::max(m_capacity * 2, used + size);
    std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity]);
    std::memcpy(grown.get() + capacity - used, m_at, used);
    m_buffer.swap(grown);
    m_capacity = capacity;
    m_at = m_buffer.get() + capacity - used;
  }

  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_capacity;
  uint8_t* m_at;
};

std::vector<uint8_t> referenceEncode(const RawBundle& bundle) {
  BackwardWriter out(16384);
  // Bundle fields in descending tag order: 8 platform, 5 start, 2 events, 1 protocol.
  out.text(8, bundle.platformName);
  out.integer(5, static_cast<uint64_t>(bundle.start));
  for (auto event = bundle.events.rbegin(); event != bundle.events.rend(); ++event) {
    const size_t eventFrom = out.written();
    // Event: 3 timestamp, 2 name, 1 params.
    out.integer(3, static_cast<uint64_t>(event->timestamp));
    out.text(2, event->name);
    for (auto param = event->params.rbegin(); param != event->params.rend(); ++param) {
      const size_t paramFrom = out.written();
      // EventParam: 3 integer, 2 text, 1 name.
      if (param->hasInteger) out.integer(3, static_cast<uint64_t>(param->integer));
      if (!param->text.empty()) out.text(2, param->text);
      out.text(1, param->name);
      out.delimited(1, paramFrom);
    }
    out.delimited(2, eventFrom);
  }
  out.integer(1, static_cast<uint64_t>(static_cast<int64_t>(bundle.protocol)));
  return out.take();
}

bool decodeText(pb_istream_t* stream, const pb_field_t*, void** arg) {
  auto* text = static_cast<std::string*>(*arg);
  text->resize(stream->bytes_left);
  return pb_read(stream, reinterpret_cast<pb_byte_t*>(text->data()), text->size());
}

bool decodeParam(pb_istream_t* stream, const pb_field_t*, void** arg) {
  auto* params = static_cast<std::vector<RawParam>*>(*arg);
  RawParam& param = params->emplace_back();
  apm_EventParam message = apm_EventParam_init_zero;
  message.field_1.funcs.decode = decodeText;
  message.field_1.arg = &param.name;
  message.field_2.funcs.decode = decodeText;
  message.field_2.arg = &param.text;
  if (!pb_decode(stream, apm_EventParam_fields, &message)) return false;
  param.hasInteger = message.has_field_3;
  param.integer = message.field_3;
  return true;
}

bool decodeEvent(pb_istream_t* stream, const pb_field_t*, void** arg) {
  auto* events = static_cast<std::vector<RawEvent>*>(*arg);
  RawEvent& event = events->emplace_back();
  apm_Event message = apm_Event_init_zero;
  message.params.funcs.decode = decodeParam;
  message.params.arg = &event.params;
  message.field_2.funcs.decode = decodeText;
  message.field_2.arg = &event.name;
  if (!pb_decode(stream, apm_Event_fields, &message)) return false;
  event.timestamp = message.field_3;
  return true;
}

RawBundle rawDecode(const std::vector<uint8_t>& bytes) {
  RawBundle bundle;
  apm_MeasurementBundle message = apm_MeasurementBundle_init_zero;
  message.events.funcs.decode = decodeEvent;
  message.events.arg = &bundle.events;
  message.field_8.funcs.decode = decodeText;
  message.field_8.arg = &bundle.platformName;
  pb_istream_t stream = pb_istream_from_buffer(bytes.data(), bytes.size());
  pb_decode(&stream, apm_MeasurementBundle_fields, &message);
  bundle.protocol = message.field_1;
  bundle.start = message.field_5;
  return bundle;
}

// --- the same bundle through the wrappers ----------------------------------------

std::shared_ptr<APMPBMeasurementBundle> makeWrapperBundle(const RawBundle& raw) {
  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetInt32(bundle.get(), APMPBMeasurementBundleSlot::kProtocolVersion, raw.protocol);
  APMPBSetInt64(bundle.get(), APMPBMeasurementBundleSlot::kStartTimestamp, raw.start);
  APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kPlatform, raw.platformName);
  platform::Array events;
  for (const RawEvent& rawEvent : raw.events) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBSetString(event.get(), APMPBEventSlot::kName, rawEvent.name);
    APMPBSetInt64(event.get(), APMPBEventSlot::kTimestamp, rawEvent.timestamp);
    platform::Array params;
    for (const RawParam& rawParam : rawEvent.params) {
      auto param = APMPBEventParam::initWithMessageInfo(nullptr);
      APMPBSetString(param.get(), APMPBEventParamSlot::kName, rawParam.name);
      if (!rawParam.text.empty()) APMPBSetString(param.get(), APMPBEventParamSlot::kStringValue, rawParam.text);
      if (rawParam.hasInteger) APMPBSetInt64(param.get(), APMPBEventParamSlot::kIntValue, rawParam.integer);
      params.append(APMPBObjectValue(param));
    }
    APMPBSetArray(event.get(), APMPBEventSlot::kParams, params);
    events.append(APMPBObjectValue(event));
  }
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kEvents, events);
  return bundle;
}

struct Fixture {
  RawBundle raw = makeRawBundle();
  std::shared_ptr<APMPBMeasurementBundle> wrapper = makeWrapperBundle(raw);
  std::vector<uint8_t> bytes = referenceEncode(raw);
};

const Fixture& fixture() {
  static const Fixture* shared = [] {
    auto* made = new Fixture;
    // Both encoders must write the same bytes, and the reference decoder
    // must read them back whole, or the comparison means nothing.
    const RawBundle back = rawDecode(made->bytes);
    if (made->wrapper->protoBuffer() != std::optional<platform::Bytes>(made->bytes) ||
        back.events.size() != size_t(kEvents) || back.events.back().params.size() != size_t(kParams) ||
        back.events.back().params.back().integer != made->raw.events.back().params.back().integer) {
      std::fprintf(stderr, "the wrapper and the reference do not agree on the bundle's bytes\n");
      std::abort();
    }
    return made;
  }();
  return *shared;
}

void wrapperEncodeOnce() { benchmark::DoNotOptimize(fixture().wrapper->protoBuffer()); }
void referenceEncodeOnce() { benchmark::DoNotOptimize(referenceEncode(fixture().raw)); }
void wrapperDecodeOnce() { benchmark::DoNotOptimize(APMPBMeasurementBundle::initWithBuffer(fixture().bytes)); }
void referenceDecodeOnce() { benchmark::DoNotOptimize(rawDecode(fixture().bytes)); }

void timeAlone(benchmark::State& state, void (*run)()) {
  for (auto _ : state) run();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture().bytes.size()));
}
void BM_WrapperEncode(benchmark::State& state) { timeAlone(state, wrapperEncodeOnce); }
void BM_ReferenceEncode(benchmark::State& state) { timeAlone(state, referenceEncodeOnce); }
void BM_WrapperDecode(benchmark::State& state) { timeAlone(state, wrapperDecodeOnce); }
void BM_ReferenceDecode(benchmark::State& state) { timeAlone(state, referenceDecodeOnce); }
BENCHMARK(BM_WrapperEncode);
BENCHMARK(BM_ReferenceEncode);
BENCHMARK(BM_WrapperDecode);
BENCHMARK(BM_ReferenceDecode);

// Thread CPU seconds of a short batch, so that other work on a loaded
// machine does not land on one side of a pair only.
double timeBatch(void (*run)()) {
  constexpr int kBatch = 20;
  const double start = benchsupport::threadCpuSeconds();
  for (int index = 0; index < kBatch; ++index) run();
  return benchsupport::threadCpuSeconds() - start;
}

void ratio(benchmark::State& state, void (*ours)(), void (*reference)()) {
  benchsupport::Pairs pairs;
  for (auto _ : state) {
    pairs = benchsupport::alternate(101, [&] { return timeBatch(ours); }, [&] { return timeBatch(reference); });
  }
  benchsupport::report(state, pairs, "wrapper_us", "reference_us", 1e6 / 20);
  state.counters["bundle_bytes"] = double(fixture().bytes.size());
}

void BM_EncodeRatio(benchmark::State& state) { ratio(state, wrapperEncodeOnce, referenceEncodeOnce); }
void BM_DecodeRatio(benchmark::State& state) { ratio(state, wrapperDecodeOnce, referenceDecodeOnce); }
BENCHMARK(BM_EncodeRatio)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHSUPPORT_MAIN();

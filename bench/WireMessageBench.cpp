// Measurement wire messages: encoding and decoding a bundle of about 8 KB
// (50 events of 5 parameters) through the wrappers and the slot model,
// beside raw pb_encode / pb_decode of the same generated nanopb structures
// filled from plain C++ vectors (the reference).
//
// BM_WrapperEncode / BM_RawEncode and BM_WrapperDecode / BM_RawDecode time
// each side alone. BM_EncodeRatio and BM_DecodeRatio alternate the two sides
// over 101 pairs of short batches and report the median of wrapper time /
// raw time (thread CPU time) as the counter "ratio" (goal: at most 1.2).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include <pb_decode.h>
#include <pb_encode.h>

#include "bench/BenchSupport.h"
#include "measurement.pb.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

constexpr int kEvents = 50;
constexpr int kParams = 5;

// --- the reference: plain vectors and nanopb callbacks -------------------------

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

bool encodeText(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* text = static_cast<const std::string*>(*arg);
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_string(stream, reinterpret_cast<const pb_byte_t*>(text->data()), text->size());
}

bool encodeParams(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  for (const RawParam& param : *static_cast<const std::vector<RawParam>*>(*arg)) {
    apm_EventParam message = apm_EventParam_init_zero;
    message.field_1.funcs.encode = encodeText;
    message.field_1.arg = const_cast<std::string*>(&param.name);
    if (!param.text.empty()) {
      message.field_2.funcs.encode = encodeText;
      message.field_2.arg = const_cast<std::string*>(&param.text);
    }
    message.has_field_3 = param.hasInteger;
    message.field_3 = param.integer;
    if (!pb_encode_tag_for_field(stream, field) || !pb_encode_submessage(stream, apm_EventParam_fields, &message)) {
      return false;
    }
  }
  return true;
}

bool encodeEvents(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  for (const RawEvent& event : *static_cast<const std::vector<RawEvent>*>(*arg)) {
    apm_Event message = apm_Event_init_zero;
    message.params.funcs.encode = encodeParams;
    message.params.arg = const_cast<std::vector<RawParam>*>(&event.params);
    message.field_2.funcs.encode = encodeText;
    message.field_2.arg = const_cast<std::string*>(&event.name);
    message.has_field_3 = true;
    message.field_3 = event.timestamp;
    if (!pb_encode_tag_for_field(stream, field) || !pb_encode_submessage(stream, apm_Event_fields, &message)) {
      return false;
    }
  }
  return true;
}

std::vector<uint8_t> rawEncode(const RawBundle& bundle) {
  apm_MeasurementBundle message = apm_MeasurementBundle_init_zero;
  message.has_field_1 = true;
  message.field_1 = bundle.protocol;
  message.has_field_5 = true;
  message.field_5 = bundle.start;
  message.field_8.funcs.encode = encodeText;
  message.field_8.arg = const_cast<std::string*>(&bundle.platformName);
  message.events.funcs.encode = encodeEvents;
  message.events.arg = const_cast<std::vector<RawEvent>*>(&bundle.events);
  size_t size = 0;
  pb_get_encoded_size(&size, apm_MeasurementBundle_fields, &message);
  std::vector<uint8_t> bytes(size);
  pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
  pb_encode(&stream, apm_MeasurementBundle_fields, &message);
  return bytes;
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
  APMPBSetInt32(bundle.get(), 0, raw.protocol);
  APMPBSetInt64(bundle.get(), 4, raw.start);
  APMPBSetString(bundle.get(), 8, raw.platformName);
  platform::Array events;
  for (const RawEvent& rawEvent : raw.events) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    APMPBSetString(event.get(), 1, rawEvent.name);
    APMPBSetInt64(event.get(), 2, rawEvent.timestamp);
    platform::Array params;
    for (const RawParam& rawParam : rawEvent.params) {
      auto param = APMPBEventParam::initWithMessageInfo(nullptr);
      APMPBSetString(param.get(), 0, rawParam.name);
      if (!rawParam.text.empty()) APMPBSetString(param.get(), 1, rawParam.text);
      if (rawParam.hasInteger) APMPBSetInt64(param.get(), 2, rawParam.integer);
      params.append(APMPBObjectValue(param));
    }
    APMPBSetArray(event.get(), 0, params);
    events.append(APMPBObjectValue(event));
  }
  APMPBSetArray(bundle.get(), 1, events);
  return bundle;
}

struct Fixture {
  RawBundle raw = makeRawBundle();
  std::shared_ptr<APMPBMeasurementBundle> wrapper = makeWrapperBundle(raw);
  std::vector<uint8_t> bytes = rawEncode(raw);
};

const Fixture& fixture() {
  static const Fixture shared;
  return shared;
}

void wrapperEncodeOnce() { benchmark::DoNotOptimize(fixture().wrapper->protoBuffer()); }
void rawEncodeOnce() { benchmark::DoNotOptimize(rawEncode(fixture().raw)); }
void wrapperDecodeOnce() { benchmark::DoNotOptimize(APMPBMeasurementBundle::initWithBuffer(fixture().bytes)); }
void rawDecodeOnce() { benchmark::DoNotOptimize(rawDecode(fixture().bytes)); }

void BM_WrapperEncode(benchmark::State& state) {
  for (auto _ : state) wrapperEncodeOnce();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture().bytes.size()));
}
void BM_RawEncode(benchmark::State& state) {
  for (auto _ : state) rawEncodeOnce();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture().bytes.size()));
}
void BM_WrapperDecode(benchmark::State& state) {
  for (auto _ : state) wrapperDecodeOnce();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture().bytes.size()));
}
void BM_RawDecode(benchmark::State& state) {
  for (auto _ : state) rawDecodeOnce();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fixture().bytes.size()));
}
BENCHMARK(BM_WrapperEncode);
BENCHMARK(BM_RawEncode);
BENCHMARK(BM_WrapperDecode);
BENCHMARK(BM_RawDecode);

// CPU time of this thread, so that other work on a loaded machine does not
// land on one side of a pair only.
double timeBatch(void (*run)(), int count) {
  const double start = benchsupport::threadCpuSeconds();
  for (int index = 0; index < count; ++index) run();
  return benchsupport::threadCpuSeconds() - start;
}

// Median of wrapper / raw over alternating pairs of batches.
void medianRatio(benchmark::State& state, void (*ours)(), void (*reference)()) {
  constexpr int kPairs = 101;
  constexpr int kBatch = 20;
  std::vector<double> ratios;
  for (auto _ : state) {
    ratios.clear();
    for (int pair = 0; pair < kPairs; ++pair) {
      const double a = timeBatch(ours, kBatch);
      const double b = timeBatch(reference, kBatch);
      ratios.push_back(b > 0 ? a / b : 0);
    }
  }
  std::nth_element(ratios.begin(), ratios.begin() + kPairs / 2, ratios.end());
  state.counters["ratio"] = ratios[kPairs / 2];
  state.counters["bundle_bytes"] = double(fixture().bytes.size());
}

void BM_EncodeRatio(benchmark::State& state) { medianRatio(state, wrapperEncodeOnce, rawEncodeOnce); }
void BM_DecodeRatio(benchmark::State& state) { medianRatio(state, wrapperDecodeOnce, rawDecodeOnce); }
BENCHMARK(BM_EncodeRatio)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();

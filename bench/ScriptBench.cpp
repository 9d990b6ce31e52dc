// Measurement script runtime: how fast programs run and load.
//
// BM_CountingLoop: a program that sums 0..49,999 in a conditional loop (about
// 850,000 evaluations, under the 1,000,000 budget), beside the same loop in
// C++, in alternated pairs (thread CPU time). Counters: "evaluations_per_s"
// of the script, "ratio" (median script time / C++ time) and both medians.
//
// BM_ProgramLoad: loading a program of 10,000 nodes (1,000 function
// declarations of 10 nodes each: conversion of every node, then the
// declarations' evaluation) into a fresh editing instance, beside decoding
// the same program from its bytes (the step before every load), in
// alternated pairs. Counters: "load_ms" (median), "decode_ms" and "ratio".
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPEventEditing.h"
#include "measurement/script/APMPRuntime.h"
#include "testing/script-notation/ScriptNotation.h"

namespace {

constexpr int kLoopCount = 50000;
constexpr int kDeclarations = 1000;  // of 10 nodes each

std::shared_ptr<APMPBProgram> buildProgram(const std::string& json) {
  std::string error;
  std::optional<platform::Value> notation = testkit::parseNotation(json, error);
  if (!notation) return nullptr;
  return testkit::programFromNotation(*notation, error);
}

const std::shared_ptr<APMPBProgram>& countingProgram() {
  static const std::shared_ptr<APMPBProgram> program = buildProgram(
      R"([["41","i","s"],["3","i",0],["3","s",0],
          ["42",["23",["15","i"],)" + std::to_string(kLoopCount) + R"(],["3","i",["0",["15","i"],1]],false,
                ["46",["3","s",["0",["15","s"],["15","i"]]]]],
          ["15","s"]])");
  return program;
}

// One run of the counting program; its evaluations.
int32_t runCountingProgram() {
  APMPRuntime runtime;
  std::vector<const NANOMessageBase*> entities;
  const std::vector<APMPBMessageView> views = APMPBGetMessageViews(countingProgram().get(), APMPBProgramSlot::kInstructions);
  for (const APMPBMessageView& view : views) entities.push_back(&view);
  APMPError error;
  benchmark::DoNotOptimize(runtime.executeStatements(entities, error));
  return runtime.getInstructionCount();
}

double countingInCpp() {
  double sum = 0;
  for (int i = 0; i < kLoopCount; ++i) {
    sum += i;
    benchmark::DoNotOptimize(sum);
  }
  return sum;
}

void BM_CountingLoop(benchmark::State& state) {
  int32_t evaluations = 0;
  benchsupport::Pairs pairs;
  for (auto _ : state) {
    pairs = benchsupport::alternate(
        21,
        [&] {
          const double start = benchsupport::threadCpuSeconds();
          evaluations = runCountingProgram();
          return benchsupport::threadCpuSeconds() - start;
        },
        [] {
          const double start = benchsupport::threadCpuSeconds();
          countingInCpp();
          return benchsupport::threadCpuSeconds() - start;
        });
  }
  benchsupport::report(state, pairs, "script_ms", "cpp_ms", 1e3);
  state.counters["evaluations"] = evaluations;
  state.counters["evaluations_per_s"] = evaluations / benchsupport::Pairs::quantile(pairs.ours, 0.5);
}
BENCHMARK(BM_CountingLoop)->Iterations(1)->Unit(benchmark::kMillisecond);

std::string declarationsJson() {
  std::string json = "[";
  for (int i = 0; i < kDeclarations; ++i) {
    if (i > 0) json += ",";
    json += R"(["50","f)" + std::to_string(i) + R"(",["7","a"],["36",["0",["15","a"],["15","a"]]]])";
  }
  return json + "]";
}

const platform::Bytes& programBytes() {
  static const platform::Bytes bytes = *buildProgram(declarationsJson())->protoBuffer();
  return bytes;
}

void BM_ProgramLoad(benchmark::State& state) {
  const std::shared_ptr<APMPBProgram> program = APMPBProgram::initWithBuffer(programBytes());
  benchsupport::Pairs pairs;
  for (auto _ : state) {
    pairs = benchsupport::alternate(
        31,
        [&] {
          APMPEventEditing editing;
          const double start = benchsupport::threadCpuSeconds();
          const bool loaded = editing.loadProgram(*program, nullptr);
          const double seconds = benchsupport::threadCpuSeconds() - start;
          benchmark::DoNotOptimize(loaded);
          return seconds;
        },
        [] {
          const double start = benchsupport::threadCpuSeconds();
          benchmark::DoNotOptimize(APMPBProgram::initWithBuffer(programBytes()));
          return benchsupport::threadCpuSeconds() - start;
        });
  }
  benchsupport::report(state, pairs, "load_ms", "decode_ms", 1e3);
  state.counters["program_bytes"] = double(programBytes().size());
}
BENCHMARK(BM_ProgramLoad)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHSUPPORT_MAIN();

// Dictionary build and look-up: platform::Dictionary beside
// std::unordered_map<std::string, int64_t> in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/values/Value.h"

namespace {

std::vector<std::string> makeKeys(size_t n) {
  std::vector<std::string> keys;
  keys.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    keys.push_back("parameter_key_" + std::to_string(i * 2654435761u % 1000003));
  }
  return keys;
}

void BM_DictionaryBuild(benchmark::State& state) {
  const auto keys = makeKeys(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    platform::Dictionary d;
    for (size_t i = 0; i < keys.size(); ++i) {
      d.set(keys[i], static_cast<int64_t>(i));
    }
    benchmark::DoNotOptimize(d.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UnorderedMapBuild(benchmark::State& state) {
  const auto keys = makeKeys(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::unordered_map<std::string, int64_t> m;
    for (size_t i = 0; i < keys.size(); ++i) {
      m[keys[i]] = static_cast<int64_t>(i);
    }
    benchmark::DoNotOptimize(m.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_DictionaryLookup(benchmark::State& state) {
  const auto keys = makeKeys(static_cast<size_t>(state.range(0)));
  platform::Dictionary d;
  for (size_t i = 0; i < keys.size(); ++i) {
    d.set(keys[i], static_cast<int64_t>(i));
  }
  for (auto _ : state) {
    int64_t sum = 0;
    for (const std::string& k : keys) {
      if (const platform::Value* v = d.find(k)) {
        sum += v->asInt64().value_or(0);
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UnorderedMapLookup(benchmark::State& state) {
  const auto keys = makeKeys(static_cast<size_t>(state.range(0)));
  std::unordered_map<std::string, int64_t> m;
  for (size_t i = 0; i < keys.size(); ++i) {
    m[keys[i]] = static_cast<int64_t>(i);
  }
  for (auto _ : state) {
    int64_t sum = 0;
    for (const std::string& k : keys) {
      auto it = m.find(k);
      if (it != m.end()) {
        sum += it->second;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_DictionaryBuild)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_UnorderedMapBuild)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_DictionaryLookup)->Arg(8)->Arg(64)->Arg(4096);
BENCHMARK(BM_UnorderedMapLookup)->Arg(8)->Arg(64)->Arg(4096);

BENCHMARK_MAIN();

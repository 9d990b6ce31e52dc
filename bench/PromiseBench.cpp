// A chain of 1000 `then` steps on a serial queue, beside the same 1000 steps
// as plain async calls (each task queueing the next) on a serial queue.
#include <benchmark/benchmark.h>

#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/SerialQueue.h"
#include "sdk/promises/RBLPromise.h"

namespace {

constexpr int kSteps = 1000;

void BM_PromiseThenChain(benchmark::State& state) {
  platform::SerialQueue queue("bench.promise.then");
  for (auto _ : state) {
    RBLPromisePtr head = RBLPromise::pendingPromise();
    RBLPromisePtr tail = head;
    for (int i = 0; i < kSteps; ++i) {
      tail = tail->onQueueThen(queue, [](const platform::Value& v) -> RBLResolution { return v.integerValue() + 1; });
    }
    platform::Semaphore done;
    int64_t result = 0;
    tail->observeOnQueue(
        queue,
        [&](const platform::Value& v) {
          result = v.integerValue();
          done.signal();
        },
        [&](const platform::Error&) { done.signal(); });
    head->fulfill(0);
    done.wait();
    if (result != kSteps) state.SkipWithError("wrong result");
  }
  state.SetItemsProcessed(state.iterations() * kSteps);
}

void step(const platform::SerialQueue& queue, int64_t value, int64_t* result, const platform::Semaphore& done) {
  if (value == kSteps) {
    *result = value;
    done.signal();
    return;
  }
  queue.async([queue, value, result, done] { step(queue, value + 1, result, done); });
}

void BM_PlainAsyncChain(benchmark::State& state) {
  platform::SerialQueue queue("bench.promise.async");
  for (auto _ : state) {
    platform::Semaphore done;
    int64_t result = 0;
    queue.async([&] { step(queue, 0, &result, done); });
    done.wait();
    if (result != kSteps) state.SkipWithError("wrong result");
  }
  state.SetItemsProcessed(state.iterations() * kSteps);
}

// Wall time: the measuring thread only waits while the queue works, so its
// CPU time says nothing about the rate.
BENCHMARK(BM_PromiseThenChain)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainAsyncChain)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Serial-queue async round trip (post one task, wait until it ran) and batch
// throughput, beside a plain std::mutex + std::condition_variable worker thread.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/dispatch/SerialQueue.h"

namespace {

// Waits until the task posted last has run; the same latch for both sides.
class Latch {
 public:
  void open() {
    std::lock_guard lock(m_mutex);
    m_open = true;
    m_changed.notify_one();
  }
  void waitAndReset() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_open; });
    m_open = false;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_open = false;
};

// The reference: one thread draining a locked deque.
class PlainWorker {
 public:
  PlainWorker() : m_thread([this] { run(); }) {}
  ~PlainWorker() {
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_changed.notify_one();
    m_thread.join();
  }
  void post(std::function<void()> task) {
    {
      std::lock_guard lock(m_mutex);
      m_tasks.push_back(std::move(task));
    }
    m_changed.notify_one();
  }

 private:
  void run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
      if (m_tasks.empty()) return;
      auto task = std::move(m_tasks.front());
      m_tasks.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::function<void()>> m_tasks;
  bool m_stop = false;
  std::thread m_thread;
};

constexpr int kBatch = 1000;

void BM_SerialQueueRoundTrip(benchmark::State& state) {
  platform::SerialQueue queue("bench.roundtrip");
  Latch latch;
  for (auto _ : state) {
    queue.async([&] { latch.open(); });
    latch.waitAndReset();
  }
}
BENCHMARK(BM_SerialQueueRoundTrip)->UseRealTime();

void BM_PlainWorkerRoundTrip(benchmark::State& state) {
  PlainWorker worker;
  Latch latch;
  for (auto _ : state) {
    worker.post([&] { latch.open(); });
    latch.waitAndReset();
  }
}
BENCHMARK(BM_PlainWorkerRoundTrip)->UseRealTime();

void BM_SerialQueueBatch(benchmark::State& state) {
  platform::SerialQueue queue("bench.batch");
  Latch latch;
  int64_t sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch - 1; ++i) queue.async([&sum, i] { sum += i; });
    queue.async([&] { latch.open(); });
    latch.waitAndReset();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SerialQueueBatch)->UseRealTime();

void BM_PlainWorkerBatch(benchmark::State& state) {
  PlainWorker worker;
  Latch latch;
  int64_t sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch - 1; ++i) worker.post([&sum, i] { sum += i; });
    worker.post([&] { latch.open(); });
    latch.waitAndReset();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PlainWorkerBatch)->UseRealTime();

void BM_SerialQueueSync(benchmark::State& state) {
  platform::SerialQueue queue("bench.sync");
  int value = 0;
  for (auto _ : state) benchmark::DoNotOptimize(queue.sync([&] { return ++value; }));
}
BENCHMARK(BM_SerialQueueSync)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

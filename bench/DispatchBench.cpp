// Serial-queue async round trip (post one task, wait until it ran) and batch
// throughput, beside a plain std::mutex + std::condition_variable worker
// thread, as median ratios of alternated pairs in one run (BenchSupport.h;
// --pin=N pins to one CPU, where hand-offs cost the same on a loaded machine).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "bench/BenchSupport.h"
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

// Seconds per task for `rounds` rounds of `post then wait` (a round trip
// when batch is 1, a batch of `batch` tasks otherwise), on either executor.
template <typename Post>
double perTask(int rounds, int batch, Post post) {
  Latch latch;
  int64_t sum = 0;
  const double seconds = benchsupport::wallSeconds([&] {
    for (int r = 0; r < rounds; ++r) {
      for (int i = 0; i < batch - 1; ++i) post([&sum, i] { sum += i; });
      post([&] { latch.open(); });
      latch.waitAndReset();
    }
  });
  benchmark::DoNotOptimize(sum);
  return seconds / (static_cast<double>(rounds) * batch);
}

// Counters: ratio (serial queue over plain worker, time per task), queue_us
// and plain_us per task.
void runRatio(benchmark::State& state, int rounds, int batch) {
  platform::SerialQueue queue("bench.ratio");
  PlainWorker worker;
  auto ours = [&] { return perTask(rounds, batch, [&](std::function<void()> task) { queue.async(std::move(task)); }); };
  auto plain = [&] { return perTask(rounds, batch, [&](std::function<void()> task) { worker.post(std::move(task)); }); };
  for (auto _ : state) benchsupport::report(state, benchsupport::alternate(15, ours, plain), "queue_us", "plain_us", 1e6);
}

void BM_RoundTripRatio(benchmark::State& state) { runRatio(state, 2000, 1); }
BENCHMARK(BM_RoundTripRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_BatchRatio(benchmark::State& state) { runRatio(state, 20, kBatch); }
BENCHMARK(BM_BatchRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SerialQueueSync(benchmark::State& state) {
  platform::SerialQueue queue("bench.sync");
  int value = 0;
  for (auto _ : state) benchmark::DoNotOptimize(queue.sync([&] { return ++value; }));
}
BENCHMARK(BM_SerialQueueSync)->UseRealTime();

}  // namespace

BENCHSUPPORT_MAIN();

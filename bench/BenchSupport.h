// Side-by-side measurement for the benchmarks: our code and its reference
// are timed in alternated pairs within one run (the order flips every pair,
// so drift and warm-up hit both sides alike), and the figure is the median of
// the paired ratios with its spread (first and third quartile). Pinning the
// process to one CPU (--pin=N, as `taskset -c N` would; every thread made
// afterwards inherits it) makes the figures mean the same on a loaded
// machine, where hand-offs between threads otherwise depend on which cores
// happen to be free.
//
// Header only; used from the benchmark programs' main threads.
#pragma once

#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace benchsupport {

struct Pairs {
  std::vector<double> ours;       // one figure per pair (seconds, or whatever the sides return)
  std::vector<double> reference;
  std::vector<double> ratios;     // ours / reference, per pair

  static double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double at = q * static_cast<double>(values.size() - 1);
    const auto low = static_cast<size_t>(at);
    const size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
  }
  double medianRatio() const { return quantile(ratios, 0.5); }
};

// Runs `pairs` pairs; each side returns its own figure (for instance the
// seconds one round took). Lower is better for both.
inline Pairs alternate(int pairs, const std::function<double()>& ours, const std::function<double()>& reference) {
  Pairs result;
  for (int i = 0; i < pairs; ++i) {
    double a = 0;
    double b = 0;
    if (i % 2 == 0) {
      a = ours();
      b = reference();
    } else {
      b = reference();
      a = ours();
    }
    result.ours.push_back(a);
    result.reference.push_back(b);
    result.ratios.push_back(b > 0 ? a / b : 0);
  }
  return result;
}

// Counters: ratio (median of ours / reference), ratio_q1, ratio_q3, and the
// medians of both sides scaled by `unitScale` under the given names.
inline void report(benchmark::State& state, const Pairs& pairs, const std::string& oursName,
                   const std::string& referenceName, double unitScale = 1) {
  state.counters["ratio"] = pairs.medianRatio();
  state.counters["ratio_q1"] = Pairs::quantile(pairs.ratios, 0.25);
  state.counters["ratio_q3"] = Pairs::quantile(pairs.ratios, 0.75);
  state.counters["pairs"] = static_cast<double>(pairs.ratios.size());
  state.counters[oursName] = Pairs::quantile(pairs.ours, 0.5) * unitScale;
  state.counters[referenceName] = Pairs::quantile(pairs.reference, 0.5) * unitScale;
}

inline double wallSeconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU seconds of the whole process (every thread), user and system.
inline double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the calling thread so far: the side under measurement
// alone, without the waits and the other work of a loaded machine.
inline double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Context switches of the whole process so far (voluntary and not).
inline long processContextSwitches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Takes "--pin=N" out of the arguments and pins the process to CPU N.
inline void pinFromArguments(int* argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp(argv[i], "--pin=", 6) != 0) {
      argv[kept++] = argv[i];
      continue;
    }
    const int cpu = std::atoi(argv[i] + 6);
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) {
      std::fprintf(stderr, "cannot pin to CPU %d: %s\n", cpu, std::strerror(errno));
      std::exit(2);
    }
  }
  *argc = kept;
  argv[kept] = nullptr;
}

}  // namespace benchsupport

// main() of a benchmark program that takes --pin=N.
#define BENCHSUPPORT_MAIN()                                              \
  int main(int argc, char** argv) {                                      \
    benchsupport::pinFromArguments(&argc, argv);                         \
    benchmark::Initialize(&argc, argv);                                  \
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;    \
    benchmark::RunSpecifiedBenchmarks();                                 \
    benchmark::Shutdown();                                               \
    return 0;                                                            \
  }

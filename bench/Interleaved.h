#pragma once

// The dashboard's pairs (see bench/run-table.sh): a reference (what the machine allows: a plain read,
// a bare socket, a bare exchange) and the subject (the program's own path) are registered
// alternately, kRounds times each, so that a neighbour who takes the CPU for a while hits both, and
// the table compares their medians. Each run reports its figure as the counter "value" (MB/s or
// microseconds, timed here with the steady clock, not with the library's CPU or real-time rates).
// Names: "table/<row>/reference/<round>" and "table/<row>/subject/<round>".

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace bench {

constexpr int kRounds = 5;

using BenchFn = void (*)(benchmark::State&);

// iterations: 0 lets the library choose (its minimum time), else that many iterations per run.
inline void RegisterInterleaved(const std::string& row, BenchFn reference, BenchFn subject,
                                int iterations = 0) {
  for (int round = 0; round < kRounds; ++round) {
    // (snprintf: GCC 12 at -O3 warns falsely about string concatenation here)
    char r_name[128], s_name[128];
    std::snprintf(r_name, sizeof r_name, "table/%s/reference/%d", row.c_str(), round);
    std::snprintf(s_name, sizeof s_name, "table/%s/subject/%d", row.c_str(), round);
    auto* r = benchmark::RegisterBenchmark(r_name, reference);
    auto* s = benchmark::RegisterBenchmark(s_name, subject);
    for (auto* b : {r, s}) {
      b->UseRealTime()->Unit(benchmark::kMillisecond);
      if (iterations > 0) b->Iterations(iterations);
    }
  }
}

// Wall time of the timed loop, for the "value" counters.
class Stopwatch {
 public:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
  }

 private:
  std::chrono::steady_clock::time_point m_Start = std::chrono::steady_clock::now();
};

// CPU time of the calling thread, for single-threaded work that only computes (a read of memory, a
// verification): a neighbour who takes the CPU lengthens the wall time of such a run but not its CPU
// time, so the ratio of two of them holds on a shared machine.
class ThreadCpuStopwatch {
 public:
  double Seconds() const { return Now() - m_Start; }

 private:
  static double Now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
  double m_Start = Now();
};

}  // namespace bench

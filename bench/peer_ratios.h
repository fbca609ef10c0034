// Runs the registered benchmarks with the usual console output, then prints
// each one's ratio to the peer it is compared with, measured in the same run:
// from the times of two benchmarks, or from a ratio counter of one that runs
// its peer itself (interleaved, so that both see the same machine).
#pragma once

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench_support {

enum class Measure { RealTime, CpuTime };

struct PeerPair {
  std::string ours;  // benchmark names as printed, such as "inflate_own/0"
  std::string peer;
  Measure measure = Measure::CpuTime;
};

struct RatioReport {
  std::vector<PeerPair> pairs;
  std::vector<std::string> counters;  // names of ratio counters, printed for every benchmark that has one
};

class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal: a saved run is plain text.
  CollectingReporter() : ConsoleReporter(::isatty(1) != 0 ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      for (const auto& [name, counter] : run.counters) counters_.push_back({run.benchmark_name(), name, counter.value});
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void print_ratios(const RatioReport& report) const {
    if (times_.empty()) return;  // nothing ran (listed, or filtered out)
    std::printf("\nRatios to peers, same run (ours / peer; below 1 is faster):\n");
    for (const std::string& wanted : report.counters) {
      for (const CounterValue& counter : counters_) {
        if (counter.name == wanted)
          std::printf("  %-60s %-22s %6.2f x\n", counter.benchmark.c_str(), counter.name.c_str(), counter.value);
      }
    }
    for (const PeerPair& pair : report.pairs) {
      const auto ours = times_.find(pair.ours);
      const auto peer = times_.find(pair.peer);
      if (ours == times_.end() || peer == times_.end()) continue;  // filtered out or skipped
      const bool real = pair.measure == Measure::RealTime;
      const double ours_time = real ? ours->second.real : ours->second.cpu;
      const double peer_time = real ? peer->second.real : peer->second.cpu;
      if (peer_time <= 0) continue;
      std::printf("  %-40s / %-40s %6.2f x (%s)\n", pair.ours.c_str(), pair.peer.c_str(), ours_time / peer_time,
                  real ? "real time" : "CPU time");
    }
  }

 private:
  struct Times {
    double real = 0;
    double cpu = 0;
  };
  struct CounterValue {
    std::string benchmark, name;
    double value = 0;
  };
  std::map<std::string, Times> times_;
  std::vector<CounterValue> counters_;
};

// Call after benchmark::Initialize.
inline void run_and_print_ratios(const RatioReport& report) {
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios(report);
}

}  // namespace bench_support

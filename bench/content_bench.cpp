// plan_content_edit on a 64 MiB UTF-8 file against sed with the same literal on
// the same file in the same run, plus the literal and raw binary scans alone.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "content/content.h"
#include "peer_ratios.h"

namespace {

using namespace tarnwick;

constexpr std::size_t kFileBytes = std::size_t{64} << 20;
constexpr int kMatchEvery = 100;  // words: about 95,000 matches in 64 MiB, half in each case

std::string bench_folder;
std::string text_path;
std::string text;    // the UTF-8 file
std::string binary;  // random bytes with the pattern planted

const char* const kWords[] = {"lorem", "ipsum", "dolor", "sit", "amet", "Grüße", "naïve", "Straße", "consectetur",
                              "adipiscing", "elit", "sed", "do", "eiusmod", "tempor", "kneel", "labore"};

void make_data() {
  std::mt19937 random(64);
  text.reserve(kFileBytes);
  std::size_t line = 0;
  for (int word = 0; text.size() < kFileBytes - 64; ++word) {
    // Every kMatchEvery-th word is the literal, in alternating case.
    const std::string piece = word % kMatchEvery == 0 ? (word / kMatchEvery % 2 ? "NEEDLE" : "needle")
                                                      : kWords[random() % std::size(kWords)];
    text += piece;
    line += piece.size() + 1;
    if (line > 72) {
      text += '\n';
      line = 0;
    } else {
      text += ' ';
    }
  }
  text.resize(kFileBytes, '\n');
  text_path = bench_folder + "/text.txt";
  std::ofstream(text_path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));

  // The file's write-back must not run beside the first measurements.
  ::sync();

  binary.resize(kFileBytes);
  for (char& byte : binary) byte = static_cast<char>(random());
  for (std::size_t at = 0; at + 6 < binary.size(); at += 1300 * 6) binary.replace(at, 6, at % 2 ? "NEEDLE" : "needle");
}

// Argument 0: match case (1), ignore case (0) or ignore case preserving it (2).
MatchCase case_mode(const benchmark::State& state) { return state.range(0) == 1 ? MatchCase::Exact : MatchCase::Ignore; }

void set_label(benchmark::State& state, std::uint64_t matches, const std::string& more = {}) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
  const char* mode = state.range(0) == 1 ? "match case, " : state.range(0) == 2 ? "preserve case, " : "ignore case, ";
  state.SetLabel(mode + std::to_string(matches) + " matches" + more);
}

double children_cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double thread_cpu_seconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wall_seconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The whole plan_content_edit (signature checks, Auto detection, the text
// screen, replace_literal_text, encoding) against sed with the same literal on
// the same file, output thrown away. Each iteration runs sed, then the plan,
// so both see the same machine; the iteration time is the plan's. Counters:
// each side's wall and CPU time (sed's from the children's resource usage)
// and the two ratios. Argument 0: match case (1) or ignore case (0, sed's I
// flag); argument 1: sed's locale, C (0) or C.UTF-8 (1).
void PlanAgainstSed(benchmark::State& state) {
  const ContentOptions options{{}, Resizable::No, ContentMode::TextAndBinary};
  const char* locale = state.range(1) ? "C.UTF-8" : "C";
  const std::string command = std::string("LC_ALL=") + locale + " sed 's/needle/thread/" +
                              (state.range(0) ? "g" : "gI") + "' '" + text_path + "' > /dev/null";
  double sed_wall = 0, sed_cpu = 0, plan_wall = 0, plan_cpu = 0;
  std::uint64_t matches = 0;
  // One untimed run of each first, so that neither pays for a cold start:
  // the file's pages for sed, the kernel's first huge pages for the plan.
  if (std::system(command.c_str()) != 0) state.SkipWithError("sed failed");
  for (int warm = 0; warm < 2; ++warm)
    benchmark::DoNotOptimize(plan_content_edit(text_path, text, "needle", "thread", case_mode(state), options));
  for (auto _ : state) {
    double wall = wall_seconds();
    const double children = children_cpu_seconds();
    if (std::system(command.c_str()) != 0) state.SkipWithError("sed failed");
    sed_wall += wall_seconds() - wall;
    sed_cpu += children_cpu_seconds() - children;

    wall = wall_seconds();
    const double cpu = thread_cpu_seconds();
    {
      auto edit = plan_content_edit(text_path, text, "needle", "thread", case_mode(state), options);
      if (!edit || !edit->new_bytes) state.SkipWithError("no edit");
      matches = edit ? edit->match_count : 0;
      benchmark::DoNotOptimize(edit);
    }  // the plan's bytes are freed inside its time, as a preview that is dropped would
    const double seconds = wall_seconds() - wall;
    plan_cpu += thread_cpu_seconds() - cpu;
    plan_wall += seconds;
    state.SetIterationTime(seconds);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["plan_ms"] = plan_wall / n * 1e3;
  state.counters["plan_cpu_ms"] = plan_cpu / n * 1e3;
  state.counters["sed_ms"] = sed_wall / n * 1e3;
  state.counters["sed_cpu_ms"] = sed_cpu / n * 1e3;
  state.counters["ratio_to_sed"] = plan_wall / sed_wall;
  state.counters["cpu_ratio_to_sed"] = plan_cpu / sed_cpu;
  set_label(state, matches, std::string(", sed LC_ALL=") + locale);
}

void LiteralTextScan(benchmark::State& state) {
  const Replacement replacement("needle", "thread", case_mode(state),
                                state.range(0) == 2 ? PreserveCase::Yes : PreserveCase::No);
  std::uint64_t matches = 0;
  for (auto _ : state) {
    auto replaced = replace_literal_text(text, "needle", replacement, case_mode(state), kContentOutputLimitBytes);
    matches = replaced ? replaced->count : 0;
    benchmark::DoNotOptimize(replaced);
  }
  set_label(state, matches);
}

void RawBinaryScan(benchmark::State& state) {
  const FoldAsciiCase fold = state.range(0) == 1 ? FoldAsciiCase::No : FoldAsciiCase::Yes;
  const auto literals = encode_binary_literals(
      "needle", Replacement("needle", "thread", case_mode(state), state.range(0) == 2 ? PreserveCase::Yes : PreserveCase::No),
      {});
  if (!literals) state.SkipWithError("literals");
  std::uint64_t matches = 0;
  for (auto _ : state) {
    auto replaced = replace_literal_bytes(binary, *literals, fold, Resizable::No);
    matches = replaced ? replaced->count : 0;
    benchmark::DoNotOptimize(replaced);
  }
  set_label(state, matches);
}

void DecodeAuto(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(decode_text(text, {}));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

BENCHMARK(PlanAgainstSed)
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(LiteralTextScan)->Arg(1)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RawBinaryScan)->Arg(1)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeAuto)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  char folder[] = "/tmp/tarnwick-content-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  bench_folder = folder;
  make_data();
  benchmark::Initialize(&argc, argv);
  bench_support::run_and_print_ratios({{}, {"ratio_to_sed", "cpu_ratio_to_sed"}});
  benchmark::Shutdown();
  std::filesystem::remove_all(bench_folder);
  return 0;
}

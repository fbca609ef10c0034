// plan_content_edit on a 64 MiB UTF-8 file against sed with the same literal on
// the same file in the same run, plus the literal and raw binary scans alone.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "content/content.h"

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

  binary.resize(kFileBytes);
  for (char& byte : binary) byte = static_cast<char>(random());
  for (std::size_t at = 0; at + 6 < binary.size(); at += 1300 * 6) binary.replace(at, 6, at % 2 ? "NEEDLE" : "needle");
}

MatchCase case_mode(const benchmark::State& state) { return state.range(0) ? MatchCase::Exact : MatchCase::Ignore; }

void set_label(benchmark::State& state, std::uint64_t matches) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
  state.SetLabel((state.range(0) ? "match case, " : "ignore case, ") + std::to_string(matches) + " matches");
}

void PlanContentEdit(benchmark::State& state) {
  const ContentOptions options{{}, Resizable::No, ContentMode::TextAndBinary};
  std::uint64_t matches = 0;
  for (auto _ : state) {
    auto edit = plan_content_edit(text_path, text, "needle", "thread", case_mode(state), options);
    if (!edit || !edit->new_bytes) state.SkipWithError("no edit");
    matches = edit ? edit->match_count : 0;
    benchmark::DoNotOptimize(edit);
  }
  set_label(state, matches);
}

double children_cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// sed with the same literal over the same file, its output thrown away. Its CPU
// time (user + system, from the children's usage) is the counter sed_cpu_ms, to
// compare with the CPU column of PlanContentEdit on a loaded machine.
void Sed(benchmark::State& state, const char* locale) {
  const std::string flags = state.range(0) ? "g" : "gI";
  const std::string command =
      std::string("LC_ALL=") + locale + " sed 's/needle/thread/" + flags + "' '" + text_path + "' > /dev/null";
  const double cpu_before = children_cpu_seconds();
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("sed failed");
  state.counters["sed_cpu_ms"] = (children_cpu_seconds() - cpu_before) * 1000 / static_cast<double>(state.iterations());
  set_label(state, 0);
  state.SetLabel(std::string(state.range(0) ? "match case" : "ignore case") + ", LC_ALL=" + locale);
}

void SedC(benchmark::State& state) { Sed(state, "C"); }
void SedUtf8(benchmark::State& state) { Sed(state, "C.UTF-8"); }

void LiteralTextScan(benchmark::State& state) {
  std::uint64_t matches = 0;
  for (auto _ : state) {
    auto replaced = replace_literal_text(text, "needle", "thread", case_mode(state), kContentOutputLimitBytes);
    matches = replaced ? replaced->count : 0;
    benchmark::DoNotOptimize(replaced);
  }
  set_label(state, matches);
}

void RawBinaryScan(benchmark::State& state) {
  const FoldAsciiCase fold = state.range(0) ? FoldAsciiCase::No : FoldAsciiCase::Yes;
  std::uint64_t matches = 0;
  for (auto _ : state) {
    auto replaced = replace_literal_bytes(binary, "needle", "thread", fold, Resizable::No);
    matches = replaced ? replaced->count : 0;
    benchmark::DoNotOptimize(replaced);
  }
  set_label(state, matches);
}

void DecodeAuto(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(decode_text(text, {}));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

BENCHMARK(PlanContentEdit)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SedC)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(SedUtf8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(LiteralTextScan)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RawBinaryScan)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeAuto)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  char folder[] = "/tmp/tarnwick-content-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  bench_folder = folder;
  make_data();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(bench_folder);
  return 0;
}

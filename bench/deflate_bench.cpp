// Throughput of the program's raw DEFLATE decoder and encoder against zlib (raw inflate,
// and deflate at levels 6 and 1) on the same data in the same run: a synthetic 64 MiB
// decoded resource, and the decoded pages of the real samples when TARNWICK_RSC7_SAMPLES
// is set.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "resource/deflate/deflate.h"
#include "resource/resource.h"
#include "resource/rsc7.h"
#include "resource/deflate/zlib_oracle.h"
#include "peer_ratios.h"

namespace {

// Decoded pages shaped like a model resource: record headers with pointers, names,
// 0xCD-filled slack, vertex floats, index runs and noisy texture blocks.
std::string synthetic_pages(std::size_t size) {
  std::mt19937 random(1951);
  std::string pages;
  pages.reserve(size);
  while (pages.size() < size) {
    switch (random() % 6) {
      case 0: {  // a record: pointers into the system segment, counts, padding
        for (int i = 0; i < 16; ++i) {
          const std::uint64_t pointer = 0x50000000 + (random() % 0x100000) * 16;
          pages.append(reinterpret_cast<const char*>(&pointer), 8);
        }
        pages.append(32, '\0');
        break;
      }
      case 1: {  // names
        static const char* kWords[] = {"prop_", "fire_", "tape_", "lod_", "bone_", "wheel_", "door_", "glass_"};
        for (int i = 0; i < 8; ++i) {
          pages += kWords[random() % 8];
          pages += kWords[random() % 8];
          pages += std::to_string(random() % 100);
          pages += '\0';
        }
        break;
      }
      case 2: pages.append(64 + random() % 512, '\xCD'); break;
      case 3: {  // vertices: smooth floats
        float x = static_cast<float>(random() % 1000) / 10.0f;
        for (int i = 0; i < 256; ++i) {
          x += static_cast<float>(static_cast<int>(random() % 21) - 10) / 100.0f;
          pages.append(reinterpret_cast<const char*>(&x), 4);
        }
        break;
      }
      case 4: {  // indices
        std::uint16_t index = static_cast<std::uint16_t>(random());
        for (int i = 0; i < 384; ++i) {
          index = static_cast<std::uint16_t>(index + random() % 3);
          pages.append(reinterpret_cast<const char*>(&index), 2);
        }
        break;
      }
      default: {  // texture block: a gradient with some noise in the low bits
        for (int i = 0; i < 1024; ++i) pages += static_cast<char>(i / 8 + (i % 4 == 0 ? random() % 8 : 0));
        break;
      }
    }
  }
  pages.resize(size);
  return pages;
}

std::string sample_pages() {
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder == nullptr) return {};
  std::string pages;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename() == "SOURCES.tsv") continue;
    std::ifstream file(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    const std::string content = bytes.str();
    const auto resource = tarnwick::decode_rsc7(content);
    if (resource.has_value()) pages += resource->decoded;
  }
  return pages;
}

struct Corpus {
  std::string pages;
  std::string stream;  // zlib level 6, as resource tools write them
};

const Corpus& corpus(int which) {
  static const Corpus synthetic = [] {
    Corpus c{synthetic_pages(64u << 20), {}};
    c.stream = tarnwick::testing::zlib_deflate_raw(c.pages, 6);
    return c;
  }();
  static const Corpus samples = [] {
    Corpus c{sample_pages(), {}};
    c.stream = tarnwick::testing::zlib_deflate_raw(c.pages, 6);
    return c;
  }();
  static const Corpus noise = [] {
    std::mt19937 random(7);
    Corpus c{std::string(64u << 20, '\0'), {}};
    for (char& byte : c.pages) byte = static_cast<char>(random());
    c.stream = tarnwick::testing::zlib_deflate_raw(c.pages, 6);
    return c;
  }();
  if (which == 2) return noise;
  return which == 0 ? synthetic : samples;
}

bool skip_if_empty(benchmark::State& state, const Corpus& c) {
  if (!c.pages.empty()) return false;
  state.SkipWithError("TARNWICK_RSC7_SAMPLES is not set");
  return true;
}

void inflate_own(benchmark::State& state) {
  const Corpus& c = corpus(static_cast<int>(state.range(0)));
  if (skip_if_empty(state, c)) return;
  for (auto _ : state) {
    auto result = tarnwick::inflate_raw(c.stream, c.pages.size());
    if (!result.has_value() || result->bytes.size() != c.pages.size()) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.pages.size()));
}

void inflate_zlib(benchmark::State& state) {
  const Corpus& c = corpus(static_cast<int>(state.range(0)));
  if (skip_if_empty(state, c)) return;
  for (auto _ : state) {
    std::unique_ptr<char[]> out(new char[c.pages.size()]);
    z_stream stream{};
    inflateInit2(&stream, -15);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(c.stream.data()));
    stream.avail_in = static_cast<uInt>(c.stream.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.get());
    stream.avail_out = static_cast<uInt>(c.pages.size());
    if (inflate(&stream, Z_FINISH) != Z_STREAM_END) state.SkipWithError("zlib failed");
    inflateEnd(&stream);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.pages.size()));
}

void deflate_own(benchmark::State& state) {
  const Corpus& c = corpus(static_cast<int>(state.range(0)));
  if (skip_if_empty(state, c)) return;
  std::size_t compressed = 0;
  for (auto _ : state) {
    auto result = tarnwick::deflate_bounded(c.pages, 128u << 20);
    compressed = result.has_value() ? result->size() : 0;
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.pages.size()));
  state.counters["compressed_bytes"] = static_cast<double>(compressed);
  state.counters["ratio_to_input"] = static_cast<double>(compressed) / static_cast<double>(c.pages.size());
}

void deflate_zlib(benchmark::State& state, int level) {
  const Corpus& c = corpus(static_cast<int>(state.range(0)));
  if (skip_if_empty(state, c)) return;
  std::size_t compressed = 0;
  for (auto _ : state) {
    const std::string result = tarnwick::testing::zlib_deflate_raw(c.pages, level);
    compressed = result.size();
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.pages.size()));
  state.counters["compressed_bytes"] = static_cast<double>(compressed);
  state.counters["ratio_to_input"] = static_cast<double>(compressed) / static_cast<double>(c.pages.size());
}

// A whole resource: decode (and, with a find text, the fixed-width edit and re-encoding)
// of the synthetic 64 MiB file and of the largest sample, to show both stay linear.
std::string rsc7_file_of(int which) {
  if (which == 0) {
    const Corpus& c = corpus(0);
    std::string file = "RSC7";
    const std::uint32_t fields[3] = {165, 0x0002000D, 0};  // one 64 MiB system page
    file.append(reinterpret_cast<const char*>(fields), sizeof fields);
    return file + c.stream;
  }
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder == nullptr) return {};
  std::ifstream file(std::filesystem::path(folder) / "polmav_hi.yft", std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void decode_resource(benchmark::State& state) {
  const std::string file = rsc7_file_of(static_cast<int>(state.range(0)));
  if (file.empty()) {
    state.SkipWithError("TARNWICK_RSC7_SAMPLES is not set");
    return;
  }
  std::size_t decoded = 0;
  for (auto _ : state) {
    auto resource = tarnwick::decode_rsc7(file);
    if (!resource.has_value()) state.SkipWithError("decode failed");
    decoded = resource.has_value() ? resource->decoded.size() : 0;
    benchmark::DoNotOptimize(resource);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * decoded));
}

void edit_resource_fixed_width(benchmark::State& state) {
  const std::string file = rsc7_file_of(static_cast<int>(state.range(0)));
  if (file.empty()) {
    state.SkipWithError("TARNWICK_RSC7_SAMPLES is not set");
    return;
  }
  for (auto _ : state) {
    auto result = tarnwick::edit_rsc7_resource(file, "bone", "Bone", tarnwick::MatchCase::Exact, {},
                                               tarnwick::ResourceKind::None);
    if (!result.has_value()) state.SkipWithError(result.error().c_str());
    benchmark::DoNotOptimize(result);
  }
}

BENCHMARK(decode_resource)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(edit_resource_fixed_width)->Arg(0)->Unit(benchmark::kMillisecond);

// Argument 0: the synthetic 64 MiB resource; 1: the concatenated sample pages;
// 2: 64 MiB of random bytes (the encoder's worst case: the stored fallback).
BENCHMARK(inflate_own)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(inflate_zlib)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(deflate_own)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(deflate_zlib, level6, 6)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(deflate_zlib, level1, 1)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench_support::RatioReport report;
  for (const char* corpus : {"0", "1", "2"}) {
    const std::string arg = std::string("/") + corpus;
    report.pairs.push_back({"inflate_own" + arg, "inflate_zlib" + arg, bench_support::Measure::CpuTime});
    report.pairs.push_back({"deflate_own" + arg, "deflate_zlib/level6" + arg, bench_support::Measure::CpuTime});
  }
  bench_support::run_and_print_ratios(report);
  benchmark::Shutdown();
  return 0;
}

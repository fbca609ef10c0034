// Format-aware edits of whole RSC7 resources against zlib in the same run: the
// edit (inflate, name graph, checks, relocation, deflate, re-assembly) against
// zlib's raw inflate plus zlib's level-6 deflate of the same pages; the size of
// each edited sample against its original file; and the peak memory of an edit
// of a large synthetic texture dictionary, measured in a fresh child process.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "resource/resource.h"
#include "resource/rsc7.h"
#include "resource/deflate/zlib_oracle.h"
#include "support_rsc7_builder.h"
#include "peer_ratios.h"

namespace {

using namespace tarnwick;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

double cpu_seconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// ---- the resources ------------------------------------------------------------

struct Resource {
  std::string name;
  std::string file;
  ResourceKind kind = ResourceKind::None;
  std::string find;
  std::string replacement;
};

// DXT1-like texture data: 8-byte blocks of two RGB565 end points that drift
// slowly across the image, and index bits that are flat over most blocks and
// noisy over detailed ones, as real compressed textures are; each texture is
// followed by its mip chain.
void fill_texture_pages(std::string& pages, std::size_t begin, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::size_t at = begin;
  while (at + 8 <= pages.size()) {
    const std::size_t width = 256 << (random() % 3);  // blocks per row of the top mip
    for (std::size_t mip = width; mip >= 1 && at + 8 <= pages.size(); mip /= 2) {
      std::uint16_t colour = static_cast<std::uint16_t>(random());
      for (std::size_t block = 0; block < mip * mip && at + 8 <= pages.size(); ++block) {
        if (block % 16 == 0) colour = static_cast<std::uint16_t>(colour + (random() % 5) - 2);
        const bool detailed = (block / mip + block % mip / 8 + seed) % 7 < 2;
        const std::uint16_t other = static_cast<std::uint16_t>(colour + 0x0841);
        const std::uint32_t indices = detailed ? static_cast<std::uint32_t>(random()) : 0x55555555u;
        std::memcpy(&pages[at], &colour, 2);
        std::memcpy(&pages[at + 2], &other, 2);
        std::memcpy(&pages[at + 4], &indices, 4);
        at += 8;
      }
    }
  }
}

// A legacy texture dictionary of 64 textures whose graphics segment holds
// graphics_bytes of texture data, built with the tests' resource builder.
Resource texture_dictionary(std::uint32_t graphics_flags, const std::string& name) {
  testing::SystemImage image(64);
  std::vector<std::string> names;
  for (int i = 0; i < 64; ++i) names.push_back("vehicle_paint_" + std::to_string(100 + i));
  testing::build_ytd(image, ResourceLayout::Legacy, names);
  Rsc7Resource resource = testing::make_resource(image, ResourceKind::Ytd, ResourceLayout::Legacy, graphics_flags);
  fill_texture_pages(resource.decoded, resource.system_size, 29);
  return {name, testing::make_file(resource), ResourceKind::Ytd, "paint_107", "paint_107_high_detail"};
}

const char* samples_folder() {
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  return folder != nullptr && *folder != '\0' ? folder : nullptr;
}

// One format-aware rename per sample, each accepted by the program.
struct SampleRename {
  const char* file;
  ResourceKind kind;
  const char* find;
  const char* replacement;
};
constexpr SampleRename kSampleRenames[] = {
    {"Prisoncanteen.ydr", ResourceKind::Ydr, "Prisoncanteen", "prison_canteen_v2"},
    {"menuv.ytd", ResourceKind::Ytd, "default", "fallback_longer"},
    {"p_cs_clipboard.ydr", ResourceKind::Ydr, "clipboard", "clipboard_big"},
    {"polmav_hi.yft", ResourceKind::Yft, "polmav_hi", "heli_one"},
    {"prop_fire_tape_14.yft", ResourceKind::Yft, "prop_police_tape_14", "prop_police_line_14"},
    {"ril1.ydr", ResourceKind::Ydr, "ril1", "ril1_renamed"},
    {"ril3.ytd", ResourceKind::Ytd, "texture", "texture_renamed"},
    {"ril5.ytd", ResourceKind::Ytd, "ture1", "ture_one"},
    {"v_40overlay1.ydr", ResourceKind::Ydr, "overlay", "overlay_new"},
};

const Resource& resource(int which) {
  static const std::vector<Resource> resources = [] {
    std::vector<Resource> all;
    // 200 MiB of graphics pages: one page of 16 x 8 MiB, one of 8 x 8 MiB, one of 8 MiB.
    all.push_back(texture_dictionary((1u << 17) | (1u << 24) | (1u << 27) | 14, "dictionary 200 MiB"));
    // 80 MiB, as the largest real high-resolution dictionaries: 8 + 2 pages of 8 MiB.
    all.push_back(texture_dictionary((1u << 24) | (1u << 26) | 14, "dictionary 80 MiB"));
    if (const char* folder = samples_folder())
      all.push_back({"polmav_hi.yft", read_file(std::filesystem::path(folder) / "polmav_hi.yft"), ResourceKind::Yft,
                     "polmav_hi", "heli_one"});
    return all;
  }();
  static const Resource missing{"polmav_hi.yft (TARNWICK_RSC7_SAMPLES is not set)", {}, ResourceKind::None, {}, {}};
  return which < static_cast<int>(resources.size()) ? resources[which] : missing;
}

// ---- edit time against zlib -------------------------------------------------------

std::string zlib_inflate(std::string_view stream, std::size_t size) {
  std::string out(size, '\0');
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  inflateEnd(&z);
  return out;
}

// Each iteration runs the peer and then the edit, so both see the same machine.
void BM_EditAgainstZlib(benchmark::State& state) {
  const Resource& r = resource(static_cast<int>(state.range(0)));
  state.SetLabel(r.name);
  if (r.file.empty()) {
    state.SkipWithError("TARNWICK_RSC7_SAMPLES is not set");
    return;
  }
  const auto decoded = decode_rsc7(r.file);
  if (!decoded) {
    state.SkipWithError(decoded.error().c_str());
    return;
  }
  const std::string_view stream = std::string_view(r.file).substr(16, decoded->stream_bytes);
  const std::size_t pages = decoded->decoded.size();
  double peer = 0;
  double ours = 0;
  std::size_t peer_bytes = 0;
  std::size_t our_bytes = 0;
  for (auto _ : state) {
    double start = cpu_seconds();
    const std::string inflated = zlib_inflate(stream, pages);
    const std::string deflated = testing::zlib_deflate_raw(inflated, 6);
    peer += cpu_seconds() - start;
    peer_bytes = deflated.size() + 16;

    start = cpu_seconds();
    auto edit = edit_rsc7_resource(r.file, r.find, r.replacement, MatchCase::Exact, {}, r.kind);
    const double seconds = cpu_seconds() - start;
    ours += seconds;
    state.SetIterationTime(seconds);
    if (!edit || !std::holds_alternative<Rsc7Edit>(*edit)) {
      state.SkipWithError(edit ? "no change" : edit.error().c_str());
      return;
    }
    our_bytes = std::get<Rsc7Edit>(*edit).bytes.size();
    benchmark::DoNotOptimize(edit);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["pages_MiB"] = static_cast<double>(pages) / (1 << 20);
  state.counters["zlib_ms"] = peer / n * 1e3;
  state.counters["edit_ms"] = ours / n * 1e3;
  state.counters["ratio_to_zlib"] = ours / peer;
  state.counters["size_to_original"] = static_cast<double>(our_bytes) / static_cast<double>(r.file.size());
  state.counters["zlib6_size_to_original"] = static_cast<double>(peer_bytes) / static_cast<double>(r.file.size());
}

// ---- edited sample sizes ------------------------------------------------------------

void BM_SampleSizes(benchmark::State& state) {
  const char* folder = samples_folder();
  if (folder == nullptr) {
    state.SkipWithError("TARNWICK_RSC7_SAMPLES is not set");
    return;
  }
  std::vector<double> ratios;
  std::string table;
  for (auto _ : state) {
    ratios.clear();
    table.clear();
    for (const SampleRename& rename : kSampleRenames) {
      const std::string file = read_file(std::filesystem::path(folder) / rename.file);
      const auto edit = edit_rsc7_resource(file, rename.find, rename.replacement, MatchCase::Exact, {}, rename.kind);
      if (!edit || !std::holds_alternative<Rsc7Edit>(*edit)) {
        state.SkipWithError((std::string(rename.file) + ": " + (edit ? "no change" : edit.error())).c_str());
        return;
      }
      const double ratio =
          static_cast<double>(std::get<Rsc7Edit>(*edit).bytes.size()) / static_cast<double>(file.size());
      ratios.push_back(ratio);
      char line[160];
      std::snprintf(line, sizeof line, "  %-22s %9zu -> %9zu bytes  %.3f\n", rename.file, file.size(),
                    std::get<Rsc7Edit>(*edit).bytes.size(), ratio);
      table += line;
    }
  }
  std::printf("%s", table.c_str());
  std::sort(ratios.begin(), ratios.end());
  state.counters["files"] = static_cast<double>(ratios.size());
  state.counters["median_size_ratio"] = ratios[ratios.size() / 2];
  state.counters["largest_size_ratio"] = ratios.back();
}

// ---- peak memory ----------------------------------------------------------------------

// Child mode: reads the file, edits it once, prints its peak resident memory.
int measure_peak(const char* path, const char* kind, const char* find, const char* replacement) {
  const std::string file = read_file(path);
  const ResourceKind resource_kind = resource_kind_for_path(std::string("x.") + kind);
  auto edit = edit_rsc7_resource(file, find, replacement, MatchCase::Exact, {}, resource_kind);
  if (!edit || !std::holds_alternative<Rsc7Edit>(*edit)) return 1;
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%lld\n", static_cast<long long>(usage.ru_maxrss) * 1024);
  return 0;
}

void BM_PeakMemory(benchmark::State& state) {
  const Resource& r = resource(static_cast<int>(state.range(0)));
  state.SetLabel(r.name);
  const auto decoded = decode_rsc7(r.file);
  if (!decoded) {
    state.SkipWithError("cannot decode");
    return;
  }
  const std::string path = "/tmp/tarnwick-resource-bench-" + std::to_string(::getpid()) + ".ytd";
  std::ofstream(path, std::ios::binary) << r.file;
  const char* kind = r.kind == ResourceKind::Yft ? "yft" : r.kind == ResourceKind::Ydr ? "ydr" : "ytd";
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  double peak = 0;
  for (auto _ : state) {
    const std::string command = self + " --peak-child " + path + " " + kind + " " + r.find + " " + r.replacement;
    std::FILE* child = ::popen(command.c_str(), "r");
    long long bytes = 0;
    if (child == nullptr || std::fscanf(child, "%lld", &bytes) != 1 || ::pclose(child) != 0) {
      state.SkipWithError("the child edit failed");
      break;
    }
    peak = static_cast<double>(bytes);
  }
  std::filesystem::remove(path);
  state.counters["pages_MiB"] = static_cast<double>(decoded->decoded.size()) / (1 << 20);
  state.counters["file_MiB"] = static_cast<double>(r.file.size()) / (1 << 20);
  state.counters["peak_MiB"] = peak / (1 << 20);
  state.counters["peak_to_pages"] = peak / static_cast<double>(decoded->decoded.size());
}

// Argument: 0 the 200 MiB dictionary, 1 the 80 MiB one, 2 polmav_hi.yft (needs the samples).
BENCHMARK(BM_EditAgainstZlib)->Arg(2)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_SampleSizes)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PeakMemory)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--peak-child") == 0) return measure_peak(argv[2], argv[3], argv[4], argv[5]);
  benchmark::Initialize(&argc, argv);
  bench_support::run_and_print_ratios({{}, {"ratio_to_zlib"}});
  benchmark::Shutdown();
  return 0;
}

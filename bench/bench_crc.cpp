// Verifying a 64 MiB image (unit walk with header and block CRCs, 4096-byte blocks) against a plain
// read of the same bytes (a sum of 64-bit words), in MB/s, and the CRC methods on their own. Prints
// the verification rate as a share of the plain read rate at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/Crc16.h"
#include "image/UnitWalk.h"
#include "tools/ImageBuilder.h"

namespace {

constexpr size_t kImageBytes = 64u << 20;

const std::vector<uint8_t>& Image() {
  static const std::vector<uint8_t> image = [] {
    RouterImageSpec spec;
    spec.module = MODULE_APP;
    spec.version = "bench";
    spec.payload = GeneratePayload(kImageBytes, 1);
    return BuildRouterImage(spec);
  }();
  return image;
}

// Four independent sums, so the baseline runs at the speed of the memory rather than of one add chain.
uint64_t PlainSum(const std::vector<uint8_t>& bytes) {
  uint64_t s[4] = {0, 0, 0, 0};
  const size_t words = bytes.size() / 8;
  size_t i = 0;
  for (; i + 4 <= words; i += 4) {
    uint64_t w[4];
    std::memcpy(w, bytes.data() + 8 * i, sizeof w);
    s[0] += w[0];
    s[1] += w[1];
    s[2] += w[2];
    s[3] += w[3];
  }
  for (; i < words; ++i) {
    uint64_t w;
    std::memcpy(&w, bytes.data() + 8 * i, 8);
    s[0] += w;
  }
  return s[0] + s[1] + s[2] + s[3];
}

bool Verify(const std::vector<uint8_t>& bytes) {
  std::vector<UnitHeader> units;
  std::vector<UnitExtent> extents;
  return WalkUnits(bytes, true, units, extents);
}

void BM_PlainRead(benchmark::State& state) {
  const auto& image = Image();
  for (auto _ : state) benchmark::DoNotOptimize(PlainSum(image));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}

void BM_VerifyImage(benchmark::State& state) {
  const auto& image = Image();
  for (auto _ : state) {
    if (!Verify(image)) state.SkipWithError("the image does not verify");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}

void BM_Crc16Method(benchmark::State& state) {
  const auto method = static_cast<Crc16Method>(state.range(0));
  const std::vector<uint8_t> data = GeneratePayload(4u << 20, 2);
  for (auto _ : state) benchmark::DoNotOptimize(Crc16RunWith(method, 0xFFFF, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
  static const char* names[] = {"bytewise", "slice16", "clmul"};
  state.SetLabel(names[state.range(0)]);
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VerifyImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Crc16Method)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Best of several runs, in MB/s.
template <typename F>
double BestRate(F f, size_t bytes, int runs) {
  double best = 0;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s > 0) best = std::max(best, bytes / s / 1e6);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  const auto& image = Image();
  volatile uint64_t sink = 0;
  const double plain = BestRate([&] { sink = sink + PlainSum(image); }, image.size(), 7);
  const double verify = BestRate([&] { sink = sink + (Verify(image) ? 1 : 0); }, image.size(), 7);
  const char* method = Crc16FastestMethod() == Crc16Method::Clmul ? "clmul" : "slice16";
  std::printf("\n64 MiB image, 4096-byte blocks: plain read %.0f MB/s, verification %.0f MB/s (%s): %.1f%% of the plain read\n",
              plain, verify, method, 100.0 * verify / plain);
  return 0;
}

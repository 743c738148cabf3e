// Verifying a 64 MiB image (unit walk with header and block CRCs, 4096-byte blocks) against a plain
// read of the same bytes (a sum of 64-bit words), in MB/s, and the CRC methods on their own. Then the
// Check's whole load of a 64 MiB image file (read into memory of its own, verified, sealed: what
// CBinFile::OpenFile does) beside plain read()s of the same file from the page cache, into a reused
// buffer and into fresh memory allocated as the copy is, and beside mapping and verifying it in place.
// Prints the rates and the load's share of the plain reads at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Interleaved.h"
#include "image/CBinFile.h"
#include "image/CImageCopy.h"
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
  static const char* names[] = {"bytewise", "slice16", "clmul", "vpclmul512"};
  state.SetLabel(names[state.range(0)]);
}

// The image as a file, in a private temporary folder removed at exit; read once so it is in the page
// cache for both of the measurements below.
const std::string& ImageFile() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "qor-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return std::string();
    const std::string file = pattern + "/app.bin";
    if (!WriteImageFile(file, Image())) return std::string();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::path(ImageFile()).parent_path(), ec);
    });
    return file;
  }();
  return path;
}

// read() of the whole file into a buffer that stays allocated between runs: the fastest a file can be
// read, with no memory to fault in.

bool PlainFileRead(std::vector<uint8_t>& buffer) {
  const int fd = open(ImageFile().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  ssize_t n = 0;
  while (done < buffer.size() && (n = read(fd, buffer.data() + done, buffer.size() - done)) > 0)
    done += static_cast<size_t>(n);
  close(fd);
  return done == buffer.size();
}

// read() of the whole file into fresh memory allocated as the Check's copy is (large pages), without
// verifying it: what holding an image in memory of its own costs by itself.
bool ReadIntoOwnMemory() {
  CImageCopy copy;
  if (!copy.Allocate(Image().size())) return false;
  const int fd = open(ImageFile().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = copy.ReadFrom(fd);
  close(fd);
  return ok;
}

// The file mapped read-only and verified where it lies, without a copy.
bool MapAndVerify() {
  const int fd = open(ImageFile().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const size_t size = Image().size();
  void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (view == MAP_FAILED) return false;
  std::vector<UnitHeader> units;
  std::vector<UnitExtent> extents;
  const bool ok =
      WalkUnits(std::span<const uint8_t>(static_cast<const uint8_t*>(view), size), true, units, extents);
  munmap(view, size);
  return ok;
}

// What the Check does with each image file.
bool LoadAndVerify() {
  CBinFile image;
  image.SetFilePath(ImageFile());
  return image.OpenFile(MODULE_NONE);
}

void BM_PlainFileRead(benchmark::State& state) {
  std::vector<uint8_t> buffer(Image().size());
  for (auto _ : state) {
    if (!PlainFileRead(buffer)) state.SkipWithError("the image file cannot be read");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

void BM_ReadIntoOwnMemory(benchmark::State& state) {
  for (auto _ : state)
    if (!ReadIntoOwnMemory()) state.SkipWithError("the image file cannot be read");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Image().size()));
}

void BM_MapAndVerifyInPlace(benchmark::State& state) {
  for (auto _ : state)
    if (!MapAndVerify()) state.SkipWithError("the image file does not verify");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Image().size()));
}

void BM_LoadAndVerifyFile(benchmark::State& state) {
  for (auto _ : state) {
    if (!LoadAndVerify()) state.SkipWithError("the image file does not load");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Image().size()));
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFileRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadIntoOwnMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MapAndVerifyInPlace)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadAndVerifyFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VerifyImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Crc16Method)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The dashboard's row: verification beside the plain read, in MB/s of the thread's CPU time (both
// only compute, so a busy neighbour does not bend their ratio).
void Table_PlainRead(benchmark::State& state) {
  const auto& image = Image();
  bench::ThreadCpuStopwatch watch;
  for (auto _ : state) benchmark::DoNotOptimize(PlainSum(image));
  state.counters["value"] =
      static_cast<double>(state.iterations()) * static_cast<double>(image.size()) / watch.Seconds() / 1e6;
}

void Table_Verify(benchmark::State& state) {
  const auto& image = Image();
  bench::ThreadCpuStopwatch watch;
  for (auto _ : state) {
    if (!Verify(image)) state.SkipWithError("the image does not verify");
    benchmark::ClobberMemory();
  }
  state.counters["value"] =
      static_cast<double>(state.iterations()) * static_cast<double>(image.size()) / watch.Seconds() / 1e6;
}

const bool kTableRegistered = [] {
  bench::RegisterInterleaved("verify", Table_PlainRead, Table_Verify);
  return true;
}();

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
  // --table-only: the dashboard runs only its pairs and reads their values, not the summary below
  bool tableOnly = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--table-only")
      tableOnly = true;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // the file is written and read once before anything is timed, so it is in the page cache
  std::vector<uint8_t> warm(Image().size());
  if (ImageFile().empty() || !PlainFileRead(warm)) {
    std::fprintf(stderr, "cannot write the image file in the temporary directory\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (tableOnly) return 0;

  const auto& image = Image();
  volatile uint64_t sink = 0;
  const double plain = BestRate([&] { sink = sink + PlainSum(image); }, image.size(), 7);
  const double verify = BestRate([&] { sink = sink + (Verify(image) ? 1 : 0); }, image.size(), 7);
  static const char* methods[] = {"bytewise", "slice16", "clmul", "vpclmul512"};
  const char* method = methods[static_cast<int>(Crc16FastestMethod())];
  std::printf(
      "\n64 MiB image, 4096-byte blocks: plain read %.0f MB/s, verification %.0f MB/s (%s): %.1f%% of the "
      "plain read\n",
      plain, verify, method, 100.0 * verify / plain);

  const double fileRead = BestRate([&] { sink = sink + (PlainFileRead(warm) ? 1 : 0); }, image.size(), 7);
  const double ownRead = BestRate([&] { sink = sink + (ReadIntoOwnMemory() ? 1 : 0); }, image.size(), 7);
  const double mapped = BestRate([&] { sink = sink + (MapAndVerify() ? 1 : 0); }, image.size(), 7);
  const double load = BestRate([&] { sink = sink + (LoadAndVerify() ? 1 : 0); }, image.size(), 7);
  std::printf(
      "64 MiB image file from the page cache (best of 7):\n"
      "  read() into a reused buffer       %6.0f MB/s\n"
      "  read() into memory of its own     %6.0f MB/s\n"
      "  mapped and verified in place      %6.0f MB/s\n"
      "  the Check's load and verify       %6.0f MB/s: %.1f%% of the reused-buffer read, %.1f%% of the read"
      " into memory of its own\n",
      fileRead, ownRead, mapped, load, 100.0 * load / fileRead, 100.0 * load / ownRead);
  return 0;
}

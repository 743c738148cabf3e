// Runs a fuzz target without libFuzzer: over saved inputs named on the command line (a folder
// stands for every file in it, in name order: the seed corpus and the inputs of mended faults), or,
// with no arguments, over a fixed set of generated inputs (empty, single bytes, frame-like and random
// buffers of many lengths), so every build can replay the targets under CTest and the sanitizers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// A target may name inputs of its own (shapes random bytes rarely reach); replayed before the rest.
__attribute__((weak)) std::vector<std::vector<uint8_t>> FuzzSeedInputs();

namespace {
int RunGenerated() {
  int seeds = 0;
  if (FuzzSeedInputs != nullptr) {
    for (const std::vector<uint8_t>& input : FuzzSeedInputs()) {
      LLVMFuzzerTestOneInput(input.data(), input.size());
      ++seeds;
    }
  }
  std::mt19937 rng(20261209);
  std::vector<uint8_t> buf;
  LLVMFuzzerTestOneInput(buf.data(), 0);
  for (int b = 0; b < 256; ++b) {
    uint8_t one = static_cast<uint8_t>(b);
    LLVMFuzzerTestOneInput(&one, 1);
  }
  // bytes the parsers care about most: flags, escapes, 0xFF, zero and the image magics
  const uint8_t interesting[] = {0x7E, 0x7D, 0x5E, 0x5D, 0xFF, 0x00, 0x01, 0x55, 0xAA, 0x5A,
                                 0xA5, 'H',  'D',  'R',  '0',  '\r', '\n', '.',  '#',  ':'};
  int runs = 0;
  for (int i = 0; i < 3000; ++i) {
    size_t len = (i < 2000) ? rng() % 300 : rng() % 70000;
    buf.resize(len);
    bool biased = (i % 2) == 0;
    for (auto& byte : buf) {
      byte = biased ? interesting[rng() % sizeof interesting] : static_cast<uint8_t>(rng());
    }
    LLVMFuzzerTestOneInput(buf.data(), buf.size());
    ++runs;
  }
  std::printf("replayed %d seed and %d generated inputs\n", seeds, runs + 257);
  return 0;
}

bool Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return RunGenerated();
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code error;
    if (!std::filesystem::is_directory(arg, error)) {
      if (!Replay(arg)) return 1;
      ++replayed;
      continue;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(arg, error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      if (!Replay(file)) return 1;
      ++replayed;
    }
  }
  std::printf("replayed %d saved inputs\n", replayed);
  return 0;
}

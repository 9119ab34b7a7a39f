// How fast LoadHexToBuf turns a HEX file into an image: a 128 KiB and a 1 MiB image, written as
// records of 16 data bytes with a segment record at every 64 KiB. Throughput is counted in bytes
// of HEX text (bytes_per_second in the JSON output).
//
// With HEX_BENCH_DIR set, each HEX file is also written into that folder as hex_<image bytes>.hex,
// so that bench/hex_vs_srec_cat.sh can have srec_cat convert the very same files.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/global.h"
#include "sim/image_tools.h"
#include "sim/machine.h"
#include "update/dvdrom.h"

namespace {

// An image whose bytes are not all alike, so that every record carries different digits.
std::vector<uint8_t> Image(size_t size) {
  std::vector<uint8_t> image(size);
  uint32_t x = 0x2545F491;
  for (uint8_t& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return image;
}

void LoadHex(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string name = "hex_" + std::to_string(size) + ".hex";
  const std::vector<uint8_t> image = Image(size);
  const std::string text = sim::ToIntelHex(image);

  sim::Machine machine;
  ResetGlobals();
  machine.Install();
  machine.WriteFile(name, std::vector<uint8_t>(text.begin(), text.end()));
  if (const char* dir = std::getenv("HEX_BENCH_DIR")) {
    std::ofstream copy(std::string(dir) + "/" + name, std::ios::binary);
    copy << text;
  }

  // The two transport buffers the loader works in, as the transport allocates them.
  std::vector<uint8_t> scratch(kBuffSize), text2(kTextSizePt);
  pBuff = scratch.data();
  pText = text2.data();
  gTextSize = kTextSizePt;
  std::memcpy(gFwFile, name.c_str(), name.size() + 1);
  gFwSize = static_cast<int32_t>(size);

  for (auto _ : state) {
    if (LoadHexToBuf() != 0) {
      state.SkipWithError("the HEX file did not load");
      break;
    }
    benchmark::DoNotOptimize(pText);
    // The loader announces each load on the machine's console: not part of what is measured.
    state.PauseTiming();
    machine.console.clear();
    state.ResumeTiming();
  }
  if (std::memcmp(pText, image.data(), size) != 0) state.SkipWithError("wrong image");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["hex_bytes"] = static_cast<double>(text.size());

  pBuff = nullptr;
  pText = nullptr;
  machine.Uninstall();
}

BENCHMARK(LoadHex)->Arg(128 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

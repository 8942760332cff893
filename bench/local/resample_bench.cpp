// The kit's upsamplers at the sizes the stream views use: 128 -> 192, 128 -> 256, 256 -> 512.
#include <benchmark/benchmark.h>

#include "bench/local/bench_images.h"
#include "local/image_ops.h"

namespace {

template <WGResult (*Upsample)(const uint8_t*, uint16_t, uint8_t*), size_t kNum, size_t kDen>
void BM_Upsample(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const std::vector<uint8_t> source = BenchImage(n);
  std::vector<uint8_t> dest((n * kNum / kDen) * (n * kNum / kDen));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Upsample(source.data(), static_cast<uint16_t>(n), dest.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * dest.size()));
}

void BM_Upsample150(benchmark::State& state) {
  BM_Upsample<Upsample150, 3, 2>(state);
}
void BM_Upsample200(benchmark::State& state) {
  BM_Upsample<Upsample200, 2, 1>(state);
}

BENCHMARK(BM_Upsample150)->Arg(128)->UseRealTime();
BENCHMARK(BM_Upsample200)->Arg(128)->Arg(256)->UseRealTime();

}  // namespace

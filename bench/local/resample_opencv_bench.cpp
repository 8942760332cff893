// The peer of the upsamplers: OpenCV's bilinear resize to the same output sizes, once with
// OpenCV's own thread pool and once on the calling thread alone, as the kit's run.
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/local/bench_images.h"

namespace {

void BM_OpenCvResize(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  const auto m = static_cast<int>(state.range(1));
  cv::setNumThreads(state.range(2) == 0 ? -1 : static_cast<int>(state.range(2)));
  std::vector<uint8_t> source = BenchImage(static_cast<size_t>(n));
  const cv::Mat in(n, n, CV_8UC1, source.data());
  cv::Mat out(m, m, CV_8UC1);
  for (auto _ : state) {
    cv::resize(in, out, out.size(), 0, 0, cv::INTER_LINEAR);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * m * m);
}

// side, output side, threads (0: OpenCV's default)
BENCHMARK(BM_OpenCvResize)
    ->ArgNames({"side", "out", "threads"})
    ->Args({128, 192, 0})
    ->Args({128, 192, 1})
    ->Args({128, 256, 0})
    ->Args({128, 256, 1})
    ->Args({256, 512, 0})
    ->Args({256, 512, 1})
    ->UseRealTime();

}  // namespace

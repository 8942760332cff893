// bii_enroll and bii_verify with the setting calls the client library makes before each, on
// impressions of the synthetic standard database; and the cost of making an impression, which
// the server stand-in pays for every simulated touch. Run with --benchmark_repetitions=N for
// medians.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

#include "bii/bii_dll.h"
#include "fingers/synthetic_finger.h"

namespace {

using Template = std::array<uint8_t, BII_TEMPLATE_MAX_SIZE>;
constexpr int kFingers = 8;

struct Pairs {
  std::vector<wg_fingers::Bitmap> references, probes;
  std::vector<Template> templates, small;
  Pairs() {
    for (int f = 0; f < kFingers; ++f) {
      const wg_fingers::Master m = wg_fingers::MakeMaster(wg_fingers::FingerSeed(1, f));
      references.push_back(wg_fingers::ToMatcherBitmap(wg_fingers::MakeImpression(m, 0), false));
      probes.push_back(wg_fingers::ToMatcherBitmap(wg_fingers::MakeImpression(m, 1), true));
      Template t{};
      float q1 = 0, q2 = 0;
      bii_enroll(references.back().data(), t.data(), &q1, &q2, 8);
      templates.push_back(t);
      t[BII_TEMPLATE_FORM_OFFSET] = BII_SMALL_TEMPLATE_FORM;
      std::memset(t.data() + BII_SMALL_TEMPLATE_SIZE, 0, t.size() - BII_SMALL_TEMPLATE_SIZE);
      small.push_back(t);
    }
  }
};

const Pairs& Database() {
  static const Pairs pairs;
  return pairs;
}

void Settings(int32_t iMode) {
  bii_init(8);
  bii_setlim(30);
  bii_setcomp(iMode);
  bii_setout(0, 0);
  bii_setthresh(0);
}

void BM_Enroll(benchmark::State& state) {
  const Pairs& db = Database();
  Template t{};
  float q1 = 0, q2 = 0;
  size_t i = 0;
  for (auto _ : state) {
    Settings(3);
    bii_enroll(db.references[i++ % kFingers].data(), t.data(), &q1, &q2, 8);
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_Enroll);

void Verify(benchmark::State& state, const std::vector<Template>& templates) {
  const Pairs& db = Database();
  float q = 0, c = 0, s = 0;
  size_t i = 0;
  for (auto _ : state) {
    const size_t k = i++ % kFingers;
    Settings(2);
    bii_verify(db.probes[k].data(), templates[k].data(), &q, &c, &s, 8);
    benchmark::DoNotOptimize(s);
  }
}

void BM_VerifyFull(benchmark::State& state) {
  Verify(state, Database().templates);
}
BENCHMARK(BM_VerifyFull);

void BM_VerifySmall(benchmark::State& state) {
  Verify(state, Database().small);
}
BENCHMARK(BM_VerifySmall);

void BM_Impression(benchmark::State& state) {
  const wg_fingers::Master m = wg_fingers::MakeMaster(wg_fingers::FingerSeed(1, 0));
  uint32_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(wg_fingers::MakeImpression(m, k++));
}
BENCHMARK(BM_Impression);

void BM_Master(benchmark::State& state) {
  uint32_t f = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(wg_fingers::MakeMaster(wg_fingers::FingerSeed(9, f++)));
}
BENCHMARK(BM_Master)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

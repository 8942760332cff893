// Sealing a new reference template record and checking it, as a build followed by a match
// does: time per record.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "local/template_record.h"
#include "shared/little_endian.h"

namespace {

void BM_SealAndCheckReferenceRecord(benchmark::State& state) {
  std::mt19937 random(1);
  std::vector<uint8_t> plain(WG_REFERENCE_TEMPLATE_SIZE);
  for (uint8_t& b : plain) b = static_cast<uint8_t>(random());
  StoreI16(&plain[kRecType], WG_REFERENCE_TEMPLATE_TYPE);
  std::vector<uint8_t> record(plain.size());
  for (auto _ : state) {
    std::memcpy(record.data(), plain.data(), plain.size());
    benchmark::DoNotOptimize(WGEncryptIOTemplateRecForExport(record.data()));
    benchmark::DoNotOptimize(WGCheckIOTemplateRec(record.data(), nullptr, nullptr));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(BM_SealAndCheckReferenceRecord);

}  // namespace

// Blowfish in electronic-codebook fashion: the kit's cipher beside OpenSSL's BF_ecb_encrypt
// on buffers of the same sizes (a service block, a reference record, a pipe's worth).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <benchmark/benchmark.h>

#include <vector>

#include "local/cipher.h"

namespace {

// Blowfish runs as fast with any key of the same length.
constexpr uint8_t kBenchKey[5] = {0x01, 0x23, 0x45, 0x67, 0x89};

void BM_WGEncipherBuffer(benchmark::State& state) {
  std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)), 0x5A);
  for (auto _ : state) {
    benchmark::DoNotOptimize(WGEncipherBuffer(buffer.data(), static_cast<int32_t>(buffer.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

void BM_OpenSslBfEcbEncrypt(benchmark::State& state) {
  BF_KEY key;
  BF_set_key(&key, sizeof kBenchKey, kBenchKey);
  std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)), 0x5A);
  for (auto _ : state) {
    for (size_t o = 0; o < buffer.size(); o += 8)
      BF_ecb_encrypt(&buffer[o], &buffer[o], &key, BF_ENCRYPT);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

BENCHMARK(BM_WGEncipherBuffer)->Arg(160)->Arg(2384)->Arg(65536);
BENCHMARK(BM_OpenSslBfEcbEncrypt)->Arg(160)->Arg(2384)->Arg(65536);

}  // namespace

// The kit's cipher against OpenSSL's Blowfish, with the halves of each block turned from the
// kit's little-endian order into the big-endian order OpenSSL reads.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <random>
#include <thread>
#include <vector>

#include "local/blowfish.h"
#include "local/cipher.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The key the server shares. Records sealed with it must stay openable, so this is pinned.
constexpr uint8_t kKitKey[5] = {0x3B, 0xC6, 0x71, 0x0E, 0xA5};

Bytes RandomBytes(size_t uiLength, uint32_t uiSeed) {
  std::mt19937 random(uiSeed);
  Bytes bytes(uiLength);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

Bytes OpenSsl(const uint8_t* pKey, int iKeyLength, Bytes data, int iDirection) {
  BF_KEY key;
  BF_set_key(&key, iKeyLength, pKey);
  for (size_t o = 0; o < data.size(); o += 8) {
    uint8_t* p = &data[o];
    std::reverse(p, p + 4);
    std::reverse(p + 4, p + 8);
    BF_ecb_encrypt(p, p, &key, iDirection);
    std::reverse(p, p + 4);
    std::reverse(p + 4, p + 8);
  }
  return data;
}

int32_t Length(const Bytes& data) {
  return static_cast<int32_t>(data.size());
}

TEST(Cipher, AgreesWithOpenSsl) {
  for (size_t uiLength : {8, 16, 160, 384, 2384, 65536}) {
    SCOPED_TRACE(uiLength);
    const Bytes plain = RandomBytes(uiLength, static_cast<uint32_t>(uiLength));
    Bytes data = plain;
    ASSERT_TRUE(WGEncipherBuffer(data.data(), Length(data)));
    EXPECT_EQ(data, OpenSsl(kKitKey, 5, plain, BF_ENCRYPT));
    ASSERT_TRUE(WGDecipherBuffer(data.data(), Length(data)));
    EXPECT_EQ(data, plain);
    ASSERT_TRUE(WGDecipherBuffer(data.data(), Length(data)));
    EXPECT_EQ(data, OpenSsl(kKitKey, 5, plain, BF_DECRYPT));
  }
}

TEST(Cipher, KeyScheduleAgreesWithOpenSslForOtherKeyLengths) {
  for (int iKeyLength : {1, 4, 8, 16, 56}) {
    SCOPED_TRACE(iKeyLength);
    const Bytes key = RandomBytes(static_cast<size_t>(iKeyLength), 99);
    const BlowfishState state = BlowfishKeySchedule(key.data(), key.size());
    const Bytes plain = RandomBytes(64, 5);
    Bytes data = plain;
    BlowfishEncipher(state, data.data(), data.size() / 8);
    EXPECT_EQ(data, OpenSsl(key.data(), iKeyLength, plain, BF_ENCRYPT));
    BlowfishDecipher(state, data.data(), data.size() / 8);
    EXPECT_EQ(data, plain);
  }
}

TEST(Cipher, BlocksStandAlone) {
  Bytes data = RandomBytes(40, 1);
  std::copy(data.begin(), data.begin() + 8, data.begin() + 24);
  ASSERT_TRUE(WGEncipherBuffer(data.data(), Length(data)));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 8, data.begin() + 24));
  EXPECT_FALSE(std::equal(data.begin(), data.begin() + 8, data.begin() + 8));
}

TEST(Cipher, LengthsThatAreNotWholeBlocksFailUntouched) {
  const Bytes plain = RandomBytes(64, 2);
  for (int32_t iLength : {7, 1, 9, 15, 63, -8, -1, INT32_MIN}) {
    Bytes data = plain;
    EXPECT_FALSE(WGEncipherBuffer(data.data(), iLength)) << iLength;
    EXPECT_FALSE(WGDecipherBuffer(data.data(), iLength)) << iLength;
    EXPECT_EQ(data, plain) << iLength;
  }
  EXPECT_FALSE(WGEncipherBuffer(nullptr, 8));
  EXPECT_FALSE(WGDecipherBuffer(nullptr, 8));
}

TEST(Cipher, NothingToDoSucceeds) {
  Bytes data = RandomBytes(8, 3);
  const Bytes plain = data;
  EXPECT_TRUE(WGEncipherBuffer(data.data(), 0));
  EXPECT_TRUE(WGDecipherBuffer(data.data(), 0));
  EXPECT_EQ(data, plain);
  EXPECT_TRUE(WGEncipherBuffer(nullptr, 0));
}

// Each test runs in a process of its own, so these threads race for the very first use.
TEST(Cipher, FirstUseFromManyThreadsAgrees) {
  constexpr int kThreads = 8;
  const Bytes plain = RandomBytes(2384, 4);
  std::vector<Bytes> results(kThreads, plain);
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      EXPECT_TRUE(WGEncipherBuffer(results[i].data(), Length(results[i])));
    });
  }
  for (std::thread& t : threads) t.join();
  const Bytes expected = OpenSsl(kKitKey, 5, plain, BF_ENCRYPT);
  for (const Bytes& result : results) EXPECT_EQ(result, expected);
}

}  // namespace

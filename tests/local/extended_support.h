// What the tests of the extended and sensor-level calls share: image buffers of synthetic
// fingers, and the scripted server's answers to the acquisition and to the minimum-score read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "connect/api_messages.h"
#include "fingers/synthetic_finger.h"
#include "local/acquire_messages.h"
#include "shared/little_endian.h"
#include "tests/rpc/reply_builder.h"
#include "tests/rpc/service_script.h"
#include "whorlgate.h"

using Bytes = std::vector<uint8_t>;

// The database the kit's evaluation uses by default.
inline constexpr uint64_t kStandardDatabaseSeed = 1;

// An image buffer whose trailer bytes are all different, so that a misplaced field shows.
inline Bytes ImageBufferOf(const uint8_t* pRawImage) {
  Bytes buffer(pRawImage, pRawImage + WG_RAW_IMAGE_SIZE);
  for (uint8_t i = 0; i < WG_IMAGE_TRAILER_SIZE; ++i)
    buffer.push_back(static_cast<uint8_t>(0xA0 + i));
  return buffer;
}

// Impression `impression` of finger `finger` of the standard database.
inline Bytes FingerImageBuffer(uint32_t finger, uint32_t impression) {
  const wg_fingers::Master master =
      wg_fingers::MakeMaster(wg_fingers::FingerSeed(kStandardDatabaseSeed, finger));
  const wg_fingers::Image image = wg_fingers::MakeImpression(master, impression);
  return ImageBufferOf(image.data());
}

inline Bytes UniformImageBuffer(uint8_t value) {
  const Bytes raw(WG_RAW_IMAGE_SIZE, value);
  return ImageBufferOf(raw.data());
}

// The server's answer to the "CorMtchNA" read: its value, or a refusal (the kit then uses its
// default minimum score).
inline std::string MinimumScoreReply(uint32_t hundredths) {
  ServiceBytes block(WG_SERVICE_BLOCK_SIZE, 0);
  StoreU32(&block[9], hundredths);
  return ServiceReply(block, WG_OK);
}
inline std::string MinimumScoreRefused() {
  return ServiceReply(ServiceBytes(WG_SERVICE_BLOCK_SIZE, 0), WG_UNKNOWN);
}

inline std::string BeginAcquireReply(int16_t status = WG_OK) {
  return ReplyBuilder(kBeginAcquireReplySize)
      .i16(kBeginAcquireMsgResult, status)
      .reply(WG_API_BEGIN_ACQUIRE_IMAGE);
}
inline std::string EndAcquireReply(int16_t result, const Bytes& imageBuffer) {
  return ReplyBuilder(kEndAcquireReplySize)
      .i16(kEndAcquireMsgResult, result)
      .bytes(kEndAcquireMsgImage, imageBuffer.data(), imageBuffer.size())
      .reply(WG_API_END_ACQUIRE_IMAGE);
}
// The server announces the finished image `delayMs` after starting the acquisition.
inline std::string AcquireCompleteAfter(uint32_t delayMs) {
  return std::to_string(WG_API_BEGIN_ACQUIRE_IMAGE) + ":" +
         std::to_string(WG_MSG_ACQUIRE_COMPLETE) + ":0:" + std::to_string(delayMs);
}

// The shared key and the process's one cipher state.
#include "local/cipher.h"

#include <cstring>

#include "local/blowfish.h"

namespace {

// The server holds the same five bytes: change them and every record and service block that
// either side sealed before can no longer be opened.
constexpr uint8_t kKeyHead[4] = {0x3B, 0xC6, 0x71, 0x0E};
constexpr uint8_t kKeyLastByte = 0xA5;
constexpr size_t kKeyLength = 5;

BlowfishState ScheduleKitKey() {
  uint8_t aucKey[kKeyLength];
  std::memcpy(aucKey, kKeyHead, sizeof kKeyHead);
  aucKey[4] = kKeyLastByte;
  return BlowfishKeySchedule(aucKey, kKeyLength);
}

// Built by the first caller of any thread; every later use only reads it.
const BlowfishState& KitState() {
  static const BlowfishState state = ScheduleKitKey();
  return state;
}

bool IsWholeBlocks(const uint8_t* pBuffer, int32_t iLength) {
  return iLength >= 0 && iLength % static_cast<int32_t>(kBlowfishBlockSize) == 0 &&
         (pBuffer != nullptr || iLength == 0);
}

}  // namespace

void EncipherBlocks(uint8_t* pBlocks, size_t uiBlocks) {
  BlowfishEncipher(KitState(), pBlocks, uiBlocks);
}

void DecipherBlocks(uint8_t* pBlocks, size_t uiBlocks) {
  BlowfishDecipher(KitState(), pBlocks, uiBlocks);
}

bool WGEncipherBuffer(uint8_t* pBuffer, int32_t iLength) {
  if (!IsWholeBlocks(pBuffer, iLength)) return false;
  EncipherBlocks(pBuffer, static_cast<size_t>(iLength) / kBlowfishBlockSize);
  return true;
}

bool WGDecipherBuffer(uint8_t* pBuffer, int32_t iLength) {
  if (!IsWholeBlocks(pBuffer, iLength)) return false;
  DecipherBlocks(pBuffer, static_cast<size_t>(iLength) / kBlowfishBlockSize);
  return true;
}

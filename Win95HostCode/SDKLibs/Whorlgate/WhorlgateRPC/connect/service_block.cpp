#include "connect/service_block.h"

#include "local/cipher.h"
#include "shared/little_endian.h"

namespace {

// The check the server expects: a fold of bytes 0 to 158 that shifts left and ANDs in each
// byte, starting from 0. It comes to 0 for every block, and the server compares with exactly
// that.
constexpr uint8_t kServiceCheckValue = 0;

constexpr int32_t kBlockLength = WG_SERVICE_BLOCK_SIZE;
static_assert(kBlockLength % 8 == 0, "the block is enciphered as whole cipher blocks");

}  // namespace

bool ServicePrepare(WGServiceBlock* pBlock) {
  *pBlock = WGServiceBlock{};
  pBlock->aucBlock[kServiceBlockCommand] = kServicePrepare;
  StoreU32(pBlock->aucBlock + kServiceBlockArgument, 0);
  return ServiceSend(pBlock, true);
}

bool ServiceSend(WGServiceBlock* pBlock, bool bDecipherAnswer) {
  pBlock->aucBlock[kServiceBlockCheck] = kServiceCheckValue;
  return WGEncipherBuffer(pBlock->aucBlock, kBlockLength) && WGServiceRequest(pBlock) == WG_OK &&
         (!bDecipherAnswer || WGDecipherBuffer(pBlock->aucBlock, kBlockLength));
}

// Sealing, opening and checking of reference template records.
#include "local/template_record.h"

#include <string.h>

#include <cstring>

#include "local/blowfish.h"
#include "local/cipher.h"
#include "local/record_checksum.h"
#include "shared/little_endian.h"

namespace {

// The blocks that hold the type, the type again and the size.
constexpr size_t kHeaderBlocks = 2;

size_t BlocksOf(const TemplateRecordFormat& format) {
  return format.uiSize / kBlowfishBlockSize;
}

// The format a sealed record's header announces, or null when the header does not decipher
// into two equal, known types and the size that goes with them. Only a copy of the header is
// deciphered.
const TemplateRecordFormat* SealedFormat(const uint8_t* pRecord) {
  uint8_t aucHeader[kHeaderBlocks * kBlowfishBlockSize];
  std::memcpy(aucHeader, pRecord, sizeof aucHeader);
  DecipherBlocks(aucHeader, kHeaderBlocks);
  const int16_t iType = LoadI16(aucHeader + kRecType);
  const TemplateRecordFormat* pFormat = FindTemplateRecordFormat(iType);
  const bool bValid = pFormat != nullptr && LoadI16(aucHeader + kRecTypeAgain) == iType &&
                      LoadU16(aucHeader + kRecSize) == pFormat->uiSize;
  explicit_bzero(aucHeader, sizeof aucHeader);
  return bValid ? pFormat : nullptr;
}

bool ChecksumMatches(const uint8_t* pPlain, const TemplateRecordFormat& format) {
  return LoadU32(pPlain + format.uiChecksum) == RecordChecksum(pPlain, format.uiChecksum);
}

bool Report(const TemplateRecordFormat& format, int16_t* piType, uint16_t* puiSize) {
  if (piType != nullptr) *piType = format.iType;
  if (puiSize != nullptr) *puiSize = format.uiSize;
  return true;
}

}  // namespace

const TemplateRecordFormat* FindTemplateRecordFormat(int16_t iType) {
  for (const TemplateRecordFormat& format : kTemplateRecordFormats)
    if (format.iType == iType) return &format;
  return nullptr;
}

bool WGEncryptIOTemplateRecForExport(uint8_t* pRecord) {
  if (pRecord == nullptr) return false;
  const TemplateRecordFormat* pFormat = FindTemplateRecordFormat(LoadI16(pRecord + kRecType));
  if (pFormat == nullptr) return false;
  StoreI16(pRecord + kRecTypeAgain, pFormat->iType);
  StoreU16(pRecord + kRecSize, pFormat->uiSize);
  StoreU32(pRecord + pFormat->uiChecksum, RecordChecksum(pRecord, pFormat->uiChecksum));
  EncipherBlocks(pRecord, BlocksOf(*pFormat));
  return true;
}

bool WGDecipherIOTemplateRec(uint8_t* pRecord, int16_t* piType, uint16_t* puiSize) {
  if (pRecord == nullptr) return false;
  const TemplateRecordFormat* pFormat = SealedFormat(pRecord);
  if (pFormat == nullptr) return false;
  DecipherBlocks(pRecord, BlocksOf(*pFormat));
  if (!ChecksumMatches(pRecord, *pFormat)) {
    // Seal it again rather than hand back bytes that are neither a record nor what came in.
    EncipherBlocks(pRecord, BlocksOf(*pFormat));
    return false;
  }
  return Report(*pFormat, piType, puiSize);
}

bool OpenTemplateRecordCopy(const uint8_t* pRecord, uint8_t* pPlain, int16_t* piType,
                            uint16_t* puiSize) {
  if (pRecord == nullptr) return false;
  const TemplateRecordFormat* pFormat = SealedFormat(pRecord);
  if (pFormat == nullptr) return false;
  std::memcpy(pPlain, pRecord, pFormat->uiSize);
  DecipherBlocks(pPlain, BlocksOf(*pFormat));
  if (!ChecksumMatches(pPlain, *pFormat)) {
    explicit_bzero(pPlain, pFormat->uiSize);
    return false;
  }
  return Report(*pFormat, piType, puiSize);
}

bool WGCheckIOTemplateRec(const uint8_t* pRecord, int16_t* piType, uint16_t* puiSize) {
  uint8_t aucPlain[WG_REFERENCE_TEMPLATE_SIZE];
  const bool bValid = OpenTemplateRecordCopy(pRecord, aucPlain, piType, puiSize);
  explicit_bzero(aucPlain, sizeof aucPlain);
  return bValid;
}

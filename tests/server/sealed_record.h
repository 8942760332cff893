// A sealed reference template record for the store tests: a plain type-23 record with a body
// that tells the records apart, sealed as the server seals what it enrolls.
#pragma once

#include <cstdint>
#include <vector>

#include "local/template_record.h"
#include "shared/little_endian.h"

inline std::vector<uint8_t> SealedRecord(int seed) {
  std::vector<uint8_t> record(WG_REFERENCE_TEMPLATE_SIZE, 0);
  StoreU16(record.data() + kRecType, WG_REFERENCE_TEMPLATE_TYPE);
  for (uint32_t i = 0; i < kMatcherTemplateSize; ++i) {
    record[kRecMatcherTemplate + i] = static_cast<uint8_t>(seed + i);
  }
  WGEncryptIOTemplateRecForExport(record.data());
  return record;
}

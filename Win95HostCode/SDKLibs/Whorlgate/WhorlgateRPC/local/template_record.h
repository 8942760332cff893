// Reference template records: their layout in plain form, and sealing, opening and checking.
// A record is plain only inside the kit, in private copies between opening and freeing; it
// travels and is stored sealed (checksummed, then enciphered whole).
#pragma once

#include <cstdint>

#include "whorlgate/wg_template.h"

// Fields common to both record types (little-endian).
inline constexpr uint32_t kRecType = 0;
inline constexpr uint32_t kRecTypeAgain = 2;  // must equal kRecType
inline constexpr uint32_t kRecReserved = 4;   // 4 bytes the kit never writes; sealed all the same
inline constexpr uint32_t kRecSize = 8;
inline constexpr uint32_t kRecMatcherTemplate = 10;  // as the matcher library wrote it

// Type 23.
inline constexpr uint32_t kMatcherTemplateSize = 2352;
inline constexpr uint32_t kRecTrailer = 2362;
inline constexpr uint32_t kRecChecksum = 2379;  // 32-bit; 1 fill byte follows

// Type 22: the start of a type-23 record's matcher template, marked as a short one.
inline constexpr uint32_t kSmallMatcherTemplateSize = 348;
inline constexpr uint32_t kSmallRecMark = 23;  // the matcher template's byte 13
inline constexpr uint8_t kSmallRecMarkValue = 2;
inline constexpr uint32_t kSmallRecTrailer = 358;
inline constexpr uint32_t kSmallRecChecksum = 375;  // 32-bit; 5 fill bytes follow

struct TemplateRecordFormat {
  int16_t iType;
  uint16_t uiSize;
  uint32_t uiTrailer;
  uint32_t uiChecksum;  // the checksum covers every byte before it
};

inline constexpr TemplateRecordFormat kTemplateRecordFormats[] = {
    {WG_SMALL_REFERENCE_TEMPLATE_TYPE, WG_SMALL_REFERENCE_TEMPLATE_SIZE, kSmallRecTrailer,
     kSmallRecChecksum},
    {WG_REFERENCE_TEMPLATE_TYPE, WG_REFERENCE_TEMPLATE_SIZE, kRecTrailer, kRecChecksum},
};

// The format of a record type, or null for a type that is neither 22 nor 23.
const TemplateRecordFormat* FindTemplateRecordFormat(int16_t iType);

// Seals a plain record whose type is set at offset 0 and whose body is filled: writes the
// type again and the size, stores the checksum, enciphers the whole record. False, with the
// record untouched, when the record is null or its type is neither 22 nor 23.
bool WGEncryptIOTemplateRecForExport(uint8_t* pRecord);
// Opens a sealed record in place. True when it is valid: it is then plain, and its type and
// size go to the out arguments that are given. False otherwise, with the record as sealed as
// it came in.
bool WGDecipherIOTemplateRec(uint8_t* pRecord, int16_t* piType, uint16_t* puiSize);
// Tells whether a sealed record is valid, as WGDecipherIOTemplateRec, without changing it.
bool WGCheckIOTemplateRec(const uint8_t* pRecord, int16_t* piType, uint16_t* puiSize);
// Opens a sealed record into the caller's private `pPlain` (room for a type-23 record),
// leaving the record itself sealed; true when it is valid, as WGDecipherIOTemplateRec. On
// failure `pPlain` holds nothing of the record. The caller wipes the plain copy when done.
bool OpenTemplateRecordCopy(const uint8_t* pRecord, uint8_t* pPlain, int16_t* piType,
                            uint16_t* puiSize);

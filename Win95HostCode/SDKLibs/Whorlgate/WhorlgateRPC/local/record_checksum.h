// The checksum that sealed template records carry.
#pragma once

#include <cstddef>
#include <cstdint>

// The reflected CRC-16 of polynomial 0x8005, a nibble at a time from a register of 0, with
// one altered table entry that the server's records share. The upper 16 bits are always zero.
uint32_t RecordChecksum(const uint8_t* pData, size_t uiLength);

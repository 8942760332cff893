// The kit's cipher: Blowfish with the one key that the library and the server share. It seals
// reference template records and protects the service request blocks sent to the server.
// The key schedule runs once, on first use, whichever thread gets there first.
#pragma once

#include <cstddef>
#include <cstdint>

// Enciphers `iLength` bytes in place, each 8-byte block on its own. False, with the buffer
// untouched, when the length is negative or not a multiple of 8, or the buffer is null while
// the length is not 0; a length of 0 succeeds.
bool WGEncipherBuffer(uint8_t* pBuffer, int32_t iLength);
// The inverse of WGEncipherBuffer, with the same checks.
bool WGDecipherBuffer(uint8_t* pBuffer, int32_t iLength);

// For callers that hold whole blocks already.
void EncipherBlocks(uint8_t* pBlocks, size_t uiBlocks);
void DecipherBlocks(uint8_t* pBlocks, size_t uiBlocks);

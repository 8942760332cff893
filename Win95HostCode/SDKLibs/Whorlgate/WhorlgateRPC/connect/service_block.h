// The parameter service block: what the settings operations and the comm port restart put into
// the 160-byte WGServiceBlock that WGServiceRequest carries. The block travels enciphered in
// both directions; every conversation opens with a preparatory request.
#pragma once

#include <cstdint>

#include "whorlgate/wg_basic.h"

inline constexpr uint32_t kServiceBlockCommand = 0;     // u8
inline constexpr uint32_t kServiceBlockArgument = 1;    // u32: the preparatory request's, 0
inline constexpr uint32_t kServiceBlockIdentifier = 5;  // u16: the parameter's identifier
inline constexpr uint32_t kServiceBlockSize = 7;        // u16: the parameter's size in bytes
inline constexpr uint32_t kServiceBlockValue = 9;       // the value a set writes, a get reads
inline constexpr uint32_t kServiceBlockCheck = 159;     // u8: check byte

// The commands the library sends. The server decides what the flagged and the plain get and
// set mean; the library only sends one or the other.
enum ServiceCommand : uint8_t {
  kServicePrepare = 1,
  kServiceRestartCommPort = 12,
  kServiceGetFlagged = 14,
  kServiceSetFlagged = 15,
  kServiceGet = 16,
  kServiceSet = 17,
};

// The preparatory exchange: a fresh block with command 1, sent, and the server's answer
// deciphered into *pBlock, which the next request then reuses. False when the server did not
// accept it (WGServiceRequest has recorded why).
bool ServicePrepare(WGServiceBlock* pBlock);
// Sends *pBlock as it stands (check byte set, enciphered); true when the server accepted it.
// The answer replaces *pBlock, deciphered when `bDecipherAnswer` is set, else as it came.
bool ServiceSend(WGServiceBlock* pBlock, bool bDecipherAnswer);

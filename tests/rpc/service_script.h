// The service channel as a test sees it: the blocks travel enciphered, so the test deciphers
// what the library sent and enciphers what the scripted server answers, with the kit's cipher.
#pragma once

#include <string>
#include <vector>

#include "api/basic_messages.h"
#include "connect/api_messages.h"
#include "local/cipher.h"
#include "tests/rpc/reply_builder.h"
#include "tests/support/script_server.h"
#include "whorlgate/wg_basic.h"

using ServiceBytes = std::vector<uint8_t>;

// The plain block of a logged WG_API_SERVICE_REQUEST.
inline ServiceBytes PlainServiceBlock(const LoggedRequest& request) {
  auto from = request.bytes.begin() + kServiceMsgBlock;
  ServiceBytes block(from, from + WG_SERVICE_BLOCK_SIZE);
  WGDecipherBuffer(block.data(), WG_SERVICE_BLOCK_SIZE);
  return block;
}

// A --reply that answers a service request with `plain` (160 bytes), enciphered, and `result`.
inline std::string ServiceReply(ServiceBytes plain, int16_t result) {
  plain.resize(WG_SERVICE_BLOCK_SIZE);
  WGEncipherBuffer(plain.data(), WG_SERVICE_BLOCK_SIZE);
  return ReplyBuilder(kServiceMsgSize).bytes(kServiceMsgBlock, plain.data(), plain.size())
      .i16(kServiceMsgResult, result).reply(WG_API_SERVICE_REQUEST);
}

// An answer block the library must carry into its next request: every byte marked, the check
// byte too, so that a request which fails to reset it shows.
inline ServiceBytes MarkedAnswer() {
  ServiceBytes block(WG_SERVICE_BLOCK_SIZE);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0x40 + i);
  block[159] = 0xAA;
  return block;
}

// The preparatory request: command 1, a zero argument, nothing else.
inline ServiceBytes PreparatoryBlock() {
  ServiceBytes block(WG_SERVICE_BLOCK_SIZE, 0);
  block[0] = 1;
  return block;
}

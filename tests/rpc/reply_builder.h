// Replies for the scripted server, built field by field at the offsets of the message layouts
// (which count from the start of the message, header included).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shared/little_endian.h"

class ReplyBuilder {
 public:
  // A reply of `size` bytes in all; the server writes the 10-byte header itself.
  explicit ReplyBuilder(uint32_t size) : bytes_(size, 0) {}
  ReplyBuilder& u16(uint32_t offset, uint16_t v) { StoreU16(&bytes_[offset], v); return *this; }
  ReplyBuilder& i16(uint32_t offset, int16_t v) { StoreI16(&bytes_[offset], v); return *this; }
  ReplyBuilder& u32(uint32_t offset, uint32_t v) { StoreU32(&bytes_[offset], v); return *this; }
  ReplyBuilder& bytes(uint32_t offset, const void* p, size_t n) {
    memcpy(&bytes_[offset], p, n);
    return *this;
  }
  ReplyBuilder& text(uint32_t offset, const char* s) { return bytes(offset, s, strlen(s) + 1); }
  // The payload after the header, as the scripted server's --reply takes it.
  std::string hex() const {
    std::string out;
    char two[3];
    for (size_t i = 10; i < bytes_.size(); ++i) {
      snprintf(two, sizeof two, "%02x", bytes_[i]);
      out += two;
    }
    return out;
  }
  // "--reply" argument: answer requests of `type` with this reply after `delayMs`.
  std::string reply(uint16_t type, uint32_t delayMs = 0) const {
    return std::to_string(type) + ":" + std::to_string(type) + ":" + std::to_string(delayMs) + ":" + hex();
  }

 private:
  std::vector<uint8_t> bytes_;
};

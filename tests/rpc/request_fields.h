// What the library's tests put into requests and expect to find in them: user records, sealed
// template records, and little-endian field values at offsets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "local/template_record.h"
#include "shared/little_endian.h"
#include "whorlgate.h"

using Bytes = std::vector<uint8_t>;

inline Bytes Le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
inline Bytes BytesOf(const void* p, size_t n) {
  auto* b = static_cast<const uint8_t*>(p);
  return Bytes(b, b + n);
}

// A field of a request: these bytes at this offset.
struct RequestField {
  uint32_t offset;
  Bytes bytes;
};

// A request of `size` bytes with this process's header of `type` and the given fields.
inline void ExpectRequest(const Bytes& request, uint16_t type, uint32_t size,
                          const std::vector<RequestField>& fields) {
  ASSERT_EQ(request.size(), size);
  EXPECT_EQ(LoadU32(&request[0]), size);
  EXPECT_EQ(LoadU32(&request[4]), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(LoadU16(&request[8]), type);
  for (const RequestField& f : fields) {
    ASSERT_LE(f.offset + f.bytes.size(), request.size());
    EXPECT_EQ(Bytes(request.begin() + f.offset, request.begin() + f.offset + f.bytes.size()), f.bytes)
        << "at offset " << f.offset;
  }
}

inline WGUserRecord TestUser(const char* id, const char* name = "") {
  WGUserRecord user{};
  user.uiRecordSize = sizeof user;
  strncpy(user.szUserID, id, sizeof user.szUserID - 1);
  strncpy(user.szDisplayName, name, sizeof user.szDisplayName - 1);
  return user;
}

// A sealed template record of `type` (23 or 22) whose body is `fill`, as the server makes them.
inline Bytes SealedTestRecord(int16_t type = WG_REFERENCE_TEMPLATE_TYPE, uint8_t fill = 0x3C) {
  Bytes record(type == WG_REFERENCE_TEMPLATE_TYPE ? WG_REFERENCE_TEMPLATE_SIZE : WG_SMALL_REFERENCE_TEMPLATE_SIZE, fill);
  StoreI16(record.data(), type);
  EXPECT_TRUE(WGEncryptIOTemplateRecForExport(record.data()));
  return record;
}

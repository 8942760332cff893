#include <gtest/gtest.h>

#include <string>

#include "local/record_checksum.h"

namespace {

TEST(RecordChecksum, KnownValues) {
  struct Case {
    std::string data;
    uint32_t uiChecksum;
  };
  const Case cases[] = {
      {"", 0x0000},
      {"abc", 0x9738},
      // The unaltered polynomial table would give 0xBB3D.
      {"123456789", 0x593C},
      // A single byte whose mix reaches only the altered entry.
      {"\xF0", 0x4600},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecordChecksum(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size()),
              c.uiChecksum)
        << c.data;
  }
}

}  // namespace

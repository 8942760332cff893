#include <gtest/gtest.h>

#include <vector>

#include "local/template_record.h"
#include "whorlgate.h"

extern "C" {
extern const size_t g_auiRecordSizesC99[5];
extern const size_t g_auiRecordSizesC11[5];
uint32_t SizeCallsFromC99(void);
uint32_t SizeCallsFromC11(void);
WGResult CallsFromC99(uint8_t* pHeader, uint8_t* pSmall, const uint8_t* pReference);
WGResult CallsFromC11(uint8_t* pHeader, uint8_t* pSmall, const uint8_t* pReference);
}

namespace {

TEST(PublicHeader, CSeesTheSameRecordsAndCalls) {
  const size_t auiSizes[5] = {17, 16401, 40, 1064, 8209};
  struct Dialect {
    const size_t* puiSizes;
    uint32_t (*sizeCalls)(void);
    WGResult (*calls)(uint8_t*, uint8_t*, const uint8_t*);
  };
  for (const Dialect& d : {Dialect{g_auiRecordSizesC99, SizeCallsFromC99, CallsFromC99},
                           Dialect{g_auiRecordSizesC11, SizeCallsFromC11, CallsFromC11}}) {
    EXPECT_TRUE(std::equal(auiSizes, auiSizes + 5, d.puiSizes));
    EXPECT_EQ(d.sizeCalls(), 16401u + 1064u + 2384u + 384u);
    std::vector<uint8_t> header(WG_BITMAP_HEADER_SIZE);
    std::vector<uint8_t> small(WG_SMALL_REFERENCE_TEMPLATE_SIZE);
    std::vector<uint8_t> reference(WG_REFERENCE_TEMPLATE_SIZE);
    reference[0] = WG_REFERENCE_TEMPLATE_TYPE;
    ASSERT_TRUE(WGEncryptIOTemplateRecForExport(reference.data()));
    EXPECT_EQ(d.calls(header.data(), small.data(), reference.data()), WG_OK);
    EXPECT_TRUE(WGCheckIOTemplateRec(small.data(), nullptr, nullptr));
  }
}

}  // namespace

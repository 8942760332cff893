#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "local/cipher.h"
#include "local/record_checksum.h"
#include "local/template_record.h"
#include "shared/little_endian.h"
#include "tests/local/trace_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A plain record of `format`'s size: random bytes everywhere (reserved and fill included)
// with the type at offset 0, as a builder leaves it before sealing.
Bytes PlainRecord(const TemplateRecordFormat& format, uint32_t uiSeed) {
  std::mt19937 random(uiSeed);
  Bytes record(format.uiSize);
  for (uint8_t& b : record) b = static_cast<uint8_t>(random());
  StoreI16(&record[kRecType], format.iType);
  return record;
}

// What opening the sealed `plain` must give back.
Bytes AsSealedAndOpened(Bytes plain, const TemplateRecordFormat& format) {
  StoreI16(&plain[kRecTypeAgain], format.iType);
  StoreU16(&plain[kRecSize], format.uiSize);
  StoreU32(&plain[format.uiChecksum], RecordChecksum(plain.data(), format.uiChecksum));
  return plain;
}

Bytes Sealed(const TemplateRecordFormat& format, uint32_t uiSeed) {
  Bytes record = PlainRecord(format, uiSeed);
  EXPECT_TRUE(WGEncryptIOTemplateRecForExport(record.data()));
  return record;
}

const TemplateRecordFormat& kSmall = kTemplateRecordFormats[0];
const TemplateRecordFormat& kReference = kTemplateRecordFormats[1];

TEST(TemplateRecord, FormatsAreKnownByType) {
  EXPECT_EQ(FindTemplateRecordFormat(22), &kSmall);
  EXPECT_EQ(FindTemplateRecordFormat(23), &kReference);
  for (int16_t iType : {0, 21, 24, -23}) EXPECT_EQ(FindTemplateRecordFormat(iType), nullptr);
}

TEST(TemplateRecord, SealThenOpenGivesTheRecordBack) {
  for (const TemplateRecordFormat& format : kTemplateRecordFormats) {
    SCOPED_TRACE(format.iType);
    const Bytes plain = PlainRecord(format, 1);
    const Bytes expected = AsSealedAndOpened(plain, format);
    EXPECT_EQ(expected[format.uiChecksum + 2], 0);
    EXPECT_EQ(expected[format.uiChecksum + 3], 0);

    Bytes record = plain;
    ASSERT_TRUE(WGEncryptIOTemplateRecForExport(record.data()));
    Bytes enciphered = expected;
    ASSERT_TRUE(WGEncipherBuffer(enciphered.data(), format.uiSize));
    EXPECT_EQ(record, enciphered) << "the whole record, fill included, is enciphered";

    const Bytes sealed = record;
    int16_t iType = 0;
    uint16_t uiSize = 0;
    EXPECT_TRUE(WGCheckIOTemplateRec(record.data(), &iType, &uiSize));
    EXPECT_EQ(iType, format.iType);
    EXPECT_EQ(uiSize, format.uiSize);
    EXPECT_EQ(record, sealed);

    iType = 0;
    uiSize = 0;
    EXPECT_TRUE(WGDecipherIOTemplateRec(record.data(), &iType, &uiSize));
    EXPECT_EQ(iType, format.iType);
    EXPECT_EQ(uiSize, format.uiSize);
    EXPECT_EQ(record, expected);

    record = sealed;
    EXPECT_TRUE(WGCheckIOTemplateRec(record.data(), nullptr, nullptr));
    EXPECT_TRUE(WGDecipherIOTemplateRec(record.data(), nullptr, nullptr));
  }
}

TEST(TemplateRecord, SealRefusesOtherTypesUntouched) {
  for (int16_t iType : {24, 0, 21, -23, 0x1700}) {
    Bytes record = PlainRecord(kReference, 2);
    StoreI16(&record[kRecType], iType);
    const Bytes before = record;
    EXPECT_FALSE(WGEncryptIOTemplateRecForExport(record.data())) << iType;
    EXPECT_EQ(record, before) << iType;
  }
  EXPECT_FALSE(WGEncryptIOTemplateRecForExport(nullptr));
  EXPECT_FALSE(WGCheckIOTemplateRec(nullptr, nullptr, nullptr));
  EXPECT_FALSE(WGDecipherIOTemplateRec(nullptr, nullptr, nullptr));
}

// One changed byte anywhere (header, reserved, body, trailer, checksum, fill) is caught, and
// neither the check nor the failed open leaves the caller's bytes changed.
TEST(TemplateRecord, AChangedByteFailsAndTheRecordStaysAsItWas) {
  for (const TemplateRecordFormat& format : kTemplateRecordFormats) {
    for (uint32_t uiAt :
         {0u, 5u, 9u, 100u, format.uiTrailer + 3, format.uiChecksum, format.uiSize - 1u}) {
      SCOPED_TRACE(testing::Message() << "type " << format.iType << ", byte " << uiAt);
      Bytes record = Sealed(format, 3);
      record[uiAt] ^= 0x01;
      const Bytes changed = record;
      int16_t iType = -1;
      uint16_t uiSize = 1;
      EXPECT_FALSE(WGCheckIOTemplateRec(record.data(), &iType, &uiSize));
      EXPECT_EQ(record, changed);
      EXPECT_FALSE(WGDecipherIOTemplateRec(record.data(), &iType, &uiSize));
      EXPECT_EQ(record, changed);
      EXPECT_EQ(iType, -1);
      EXPECT_EQ(uiSize, 1);
    }
  }
}

// Headers that do not decipher into two equal, known types and the size that goes with them.
// The buffers end right after the header, so a look beyond it would be caught as well.
TEST(TemplateRecord, AnInvalidHeaderIsRejectedBeforeTheRest) {
  struct Case {
    int16_t iType, iTypeAgain;
    uint16_t uiSize;
  };
  const Case cases[] = {{23, 22, 2384}, {22, 23, 384},  {23, 23, 384},
                        {22, 22, 2384}, {24, 24, 2384}, {23, 23, 0}};
  constexpr size_t kHeaderSize = 16;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.iType << "/" << c.iTypeAgain << "/" << c.uiSize);
    Bytes header = PlainRecord(kReference, 4);
    header.resize(kHeaderSize);
    StoreI16(&header[kRecType], c.iType);
    StoreI16(&header[kRecTypeAgain], c.iTypeAgain);
    StoreU16(&header[kRecSize], c.uiSize);
    ASSERT_TRUE(WGEncipherBuffer(header.data(), kHeaderSize));
    const auto record = std::make_unique<uint8_t[]>(kHeaderSize);
    std::copy(header.begin(), header.end(), record.get());
    EXPECT_FALSE(WGCheckIOTemplateRec(record.get(), nullptr, nullptr));
    EXPECT_FALSE(WGDecipherIOTemplateRec(record.get(), nullptr, nullptr));
    EXPECT_TRUE(std::equal(header.begin(), header.end(), record.get()));
  }
}

class ConvertToSmall : public TracedTest {
 protected:
  static constexpr const char* kEntry = "ENTERING WGConvertNormalReferenceTemplateToSmall";
  static constexpr const char* kExit = "EXITING WGConvertNormalReferenceTemplateToSmall";
};

TEST_F(ConvertToSmall, KeepsTheTemplateStartAndTheTrailer) {
  const Bytes plain = PlainRecord(kReference, 5);
  Bytes reference = plain;
  ASSERT_TRUE(WGEncryptIOTemplateRecForExport(reference.data()));
  const Bytes sealed = reference;
  Bytes small(WG_SMALL_REFERENCE_TEMPLATE_SIZE, 0x5A);

  EXPECT_EQ(WGConvertNormalReferenceTemplateToSmall(small.data(), reference.data()), WG_OK);
  EXPECT_EQ(reference, sealed);
  int16_t iType = 0;
  uint16_t uiSize = 0;
  EXPECT_TRUE(WGCheckIOTemplateRec(small.data(), &iType, &uiSize));
  EXPECT_EQ(iType, 22);
  EXPECT_EQ(uiSize, 384);

  ASSERT_TRUE(WGDecipherIOTemplateRec(small.data(), nullptr, nullptr));
  Bytes expected(WG_SMALL_REFERENCE_TEMPLATE_SIZE, 0x5A);
  StoreI16(&expected[kRecType], 22);
  std::copy(plain.begin() + kRecMatcherTemplate,
            plain.begin() + kRecMatcherTemplate + kSmallMatcherTemplateSize,
            expected.begin() + kRecMatcherTemplate);
  expected[23] = 2;
  std::copy(plain.begin() + kRecTrailer, plain.begin() + kRecTrailer + WG_IMAGE_TRAILER_SIZE,
            expected.begin() + kSmallRecTrailer);
  EXPECT_EQ(small, AsSealedAndOpened(expected, kSmall));

  EXPECT_EQ(takeTraces(),
            (std::vector<TraceLine>{{TRACE_TYPE_ENTER, kEntry}, {TRACE_TYPE_EXIT, kExit}}));
}

TEST_F(ConvertToSmall, FailuresLeaveBothBuffersAndSayWhy) {
  const std::string kFailed = "WGConvertNormalReferenceTemplateToSmall: Function failed...";
  Bytes corrupted = Sealed(kReference, 6);
  corrupted[1000] ^= 0x80;
  struct Case {
    const char* pszName;
    Bytes input;
    bool bNullInput, bNullOutput;
    std::string why;
  };
  const Case cases[] = {
      {"small record", Sealed(kSmall, 7), false, false, "Input Template Not Correct Type."},
      {"changed byte", corrupted, false, false, "Input Template Corrupted."},
      {"plain record", PlainRecord(kReference, 8), false, false, "Input Template Corrupted."},
      {"no input", {}, true, false, "Input Template Corrupted."},
      {"no output", Sealed(kReference, 9), false, true, "Output Buffer NULL."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszName);
    // Exactly as large as the record handed in: nothing beyond it may be read.
    auto input = std::make_unique<uint8_t[]>(c.input.size());
    std::copy(c.input.begin(), c.input.end(), input.get());
    Bytes small(WG_SMALL_REFERENCE_TEMPLATE_SIZE, 0x5A);
    EXPECT_EQ(WGConvertNormalReferenceTemplateToSmall(c.bNullOutput ? nullptr : small.data(),
                                                      c.bNullInput ? nullptr : input.get()),
              WG_FUNCTION_FAILED);
    EXPECT_TRUE(std::equal(c.input.begin(), c.input.end(), input.get()));
    EXPECT_EQ(small, Bytes(WG_SMALL_REFERENCE_TEMPLATE_SIZE, 0x5A));
    EXPECT_EQ(takeTraces(), (std::vector<TraceLine>{{TRACE_TYPE_ENTER, kEntry},
                                                    {TRACE_TYPE_API_RESULT, kFailed + c.why},
                                                    {TRACE_TYPE_EXIT, kExit}}));
  }
}

}  // namespace

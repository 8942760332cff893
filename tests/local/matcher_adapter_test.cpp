// The local matcher adapter: confidences, the minimum-score decision, the packed match image,
// the records it builds and how it hands records to the matcher.
#include <gtest/gtest.h>

#include <cstring>

#include "local/matcher_adapter.h"
#include "local/template_record.h"
#include "tests/local/extended_support.h"
#include "tests/local/trace_capture.h"
#include "tests/rpc/rpc_fixture.h"

namespace {

TEST(ScoreToConfidence, ListedScores) {
  struct Case {
    float score;
    uint16_t falling, rising;
  } cases[] = {
      {-1.0f, 10000, 0}, {0.0f, 10000, 0}, {0.05f, 9153, 5},  {0.3f, 7617, 150},
      {0.45f, 375, 255}, {0.5f, 300, 300}, {0.55f, 200, 330}, {0.62f, 82, 410},
      {1.0f, 1, 4687},   {1.39f, 0, 9917}, {1.4f, 0, 10000},  {2.0f, 0, 10000},
  };
  for (const Case& c : cases) {
    const Confidences confidences = WGScoreToConfidence(c.score);
    EXPECT_EQ(confidences.uiFalling, c.falling) << "score " << c.score;
    EXPECT_EQ(confidences.uiRising, c.rising) << "score " << c.score;
  }
}

TEST(MinimumScore, AScoreExactlyAtTheMinimumDoesNotMatch) {
  struct Case {
    float score;
    uint16_t minimum;
    bool matches;
  } cases[] = {
      {0.5f, 50, false}, {0.51f, 50, true}, {0.49f, 50, false},
      {0.0f, 0, false},  {0.001f, 0, true}, {1.4f, 140, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScoreExceedsMinimum(c.score, c.minimum), c.matches)
        << c.score << " against " << c.minimum;
  }
}

TEST(MatchImagePacking, SixteenLevelsTwoPixelsAByteLeftOneHigh) {
  Bytes raw(WG_RAW_IMAGE_SIZE);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 37 + i / 128);
  raw[0] = 231;
  raw[1] = 232;
  raw[2] = 7;
  raw[3] = 8;
  Bytes packed(WG_MATCH_IMAGE_SIZE);
  WGPackMatchImage(raw.data(), packed.data());
  EXPECT_EQ(packed[0], 0xEF) << "231 is level 14, 232 level 15";
  EXPECT_EQ(packed[1], 0x01) << "7 is level 0, 8 level 1";

  Bytes unpacked(WG_RAW_IMAGE_SIZE);
  WGUnpackMatchImage(packed.data(), unpacked.data());
  EXPECT_EQ(unpacked[0], 224);
  EXPECT_EQ(unpacked[1], 240);
  for (size_t i = 0; i < raw.size(); ++i) {
    const int level = raw[i] > 231 ? 15 : (raw[i] + 8) >> 4;
    ASSERT_EQ(unpacked[i], level * 16) << "pixel " << i << " was " << int(raw[i]);
  }
}

class MatcherAdapterTest : public TracedTest {};

TEST_F(MatcherAdapterTest, MatchTemplateIsThePackedImageAndTheTrailer) {
  const Bytes image = FingerImageBuffer(0, 0);
  Bytes matchTemplate(WG_MATCH_TEMPLATE_SIZE, 0xCC);
  ASSERT_EQ(WGSBuildMatchTemplate(image.data(), matchTemplate.data()), WG_OK);
  Bytes packed(WG_MATCH_IMAGE_SIZE);
  WGPackMatchImage(image.data(), packed.data());
  EXPECT_EQ(Bytes(matchTemplate.begin(), matchTemplate.begin() + WG_MATCH_IMAGE_SIZE), packed);
  EXPECT_EQ(Bytes(matchTemplate.begin() + 8192, matchTemplate.end()),
            Bytes(image.begin() + 16384, image.end()));
  takeTraces();

  EXPECT_EQ(WGSBuildMatchTemplate(nullptr, matchTemplate.data()), WG_BAD_ARGUMENT);
  EXPECT_EQ(WGSBuildMatchTemplate(image.data(), nullptr), WG_BAD_ARGUMENT);
  EXPECT_EQ(WGSBuildMatchTemplate(nullptr, nullptr), WG_BAD_ARGUMENT);
  const std::vector<TraceLine> expected = {
      {TRACE_TYPE_API_RESULT, "WGSBuildMatchTemplate: input arg psImageStruct == NULL "},
      {TRACE_TYPE_API_RESULT, "WGSBuildMatchTemplate: input arg psMatchTemplate == NULL "},
      {TRACE_TYPE_API_RESULT, "WGSBuildMatchTemplate: input arg psImageStruct == NULL "},
      {TRACE_TYPE_API_RESULT, "WGSBuildMatchTemplate: input arg psMatchTemplate == NULL "},
  };
  EXPECT_EQ(takeTraces(), expected);
}

// The reserved bytes 4 to 7 are the caller's; sealing then writes the type again at 2.
TEST_F(MatcherAdapterTest, ReferenceRecordLeavesOffsetsTwoToSevenForSealing) {
  const Bytes image = FingerImageBuffer(1, 0);
  Bytes record(WG_REFERENCE_TEMPLATE_SIZE, 0x5A);
  BuildFigures figures{-1.0f, -1.0f};
  ASSERT_EQ(WGSBuildReferenceTemplate(image.data(), record.data(), &figures), WG_OK);
  EXPECT_EQ(LoadI16(&record[0]), WG_REFERENCE_TEMPLATE_TYPE);
  EXPECT_EQ(Bytes(record.begin() + 2, record.begin() + 8), Bytes(6, 0x5A));
  EXPECT_EQ(LoadU16(&record[8]), WG_REFERENCE_TEMPLATE_SIZE);
  EXPECT_EQ(Bytes(record.begin() + 2362, record.begin() + 2379),
            Bytes(image.begin() + 16384, image.end()));
  EXPECT_EQ(Bytes(record.begin() + 2379, record.end()), Bytes(5, 0x5A))
      << "checksum and fill are sealing's";
  EXPECT_GT(figures.fFirst, 0.5f) << "a clear print";
  EXPECT_GT(figures.fSecond, 0.3f);

  ASSERT_TRUE(WGEncryptIOTemplateRecForExport(record.data()));
  int16_t type = 0;
  ASSERT_TRUE(WGDecipherIOTemplateRec(record.data(), &type, nullptr));
  EXPECT_EQ(type, WG_REFERENCE_TEMPLATE_TYPE);
  EXPECT_EQ(LoadI16(&record[2]), WG_REFERENCE_TEMPLATE_TYPE);
  EXPECT_EQ(Bytes(record.begin() + 4, record.begin() + 8), Bytes(4, 0x5A));

  EXPECT_EQ(WGSBuildReferenceTemplate(nullptr, record.data(), nullptr), WG_BAD_ARGUMENT);
  EXPECT_EQ(WGSBuildReferenceTemplate(image.data(), nullptr, nullptr), WG_BAD_ARGUMENT);
  takeTraces();
  uint8_t pixels[kMatcherBitmapSide * kMatcherBitmapSide] = {};
  EXPECT_EQ(WGBuildBiiReferenceTemplate(nullptr, record.data() + 10, nullptr), WG_BAD_ARGUMENT);
  EXPECT_EQ(WGBuildBiiReferenceTemplate(pixels, nullptr, nullptr), WG_BAD_ARGUMENT);
  const std::vector<TraceLine> expected = {
      {TRACE_TYPE_API_RESULT, "WGBuildBiiReferenceTemplate input arg pImage is NULL"},
      {TRACE_TYPE_API_RESULT, "WGBuildBiiReferenceTemplate input arg pBiiTemplate is NULL"},
  };
  EXPECT_EQ(takeTraces(), expected);
}

TEST_F(MatcherAdapterTest, RecordTypesOtherThan22And23AreRefused) {
  Bytes matchTemplate(WG_MATCH_TEMPLATE_SIZE, 0);
  Bytes record(WG_REFERENCE_TEMPLATE_SIZE, 0);
  StoreI16(&record[0], 21);
  EXPECT_EQ(WGSMatchTemplatePair(record.data(), matchTemplate.data(), nullptr), WG_BAD_ARGUMENT);
  const std::vector<TraceLine> expected = {
      {TRACE_TYPE_API_RESULT, "WGSMatchTemplatePair: illegal reference template type =  0x15"},
  };
  EXPECT_EQ(takeTraces(), expected);
  EXPECT_EQ(WGSMatchTemplatePair(nullptr, matchTemplate.data(), nullptr), WG_BAD_ARGUMENT);
  StoreI16(&record[0], WG_REFERENCE_TEMPLATE_TYPE);
  EXPECT_EQ(WGSMatchTemplatePair(record.data(), nullptr, nullptr), WG_BAD_ARGUMENT);
  EXPECT_EQ(WGMatchBiiTemplatePair(nullptr, matchTemplate.data(), 50, nullptr), WG_BAD_ARGUMENT);
}

// Comparisons read their minimum score from the server.
class MatcherAgainstServerTest : public RpcTest {
 protected:
  // A plain record of finger 2 and a match template of another impression of it.
  void SetUp() override {
    RpcTest::SetUp();
    const Bytes reference = FingerImageBuffer(2, 0);
    ASSERT_EQ(WGSBuildReferenceTemplate(reference.data(), record_.data(), nullptr), WG_OK);
    const Bytes probe = FingerImageBuffer(2, 3);
    ASSERT_EQ(WGSBuildMatchTemplate(probe.data(), matchTemplate_.data()), WG_OK);
  }
  Bytes record_ = Bytes(WG_REFERENCE_TEMPLATE_SIZE, 0);
  Bytes matchTemplate_ = Bytes(WG_MATCH_TEMPLATE_SIZE, 0);
};

TEST_F(MatcherAgainstServerTest, MinimumScoreIsTheServersCorMtchNA) {
  startAndAttach({"--reply", MinimumScoreReply(0x10048), "--reply", MinimumScoreReply(0x10048),
                  "--reply", MinimumScoreRefused()});
  MatchFigures figures{};
  const WGResult result = WGSMatchTemplatePair(record_.data(), matchTemplate_.data(), &figures);
  EXPECT_GT(figures.fS, 0.0f);
  EXPECT_EQ(result, ScoreExceedsMinimum(figures.fS, 72) ? WG_MATCH : WG_NO_MATCH);
  EXPECT_TRUE(contains(traceTexts(), "MS 0.72")) << "the setting taken as 16 bits";
  auto requests = server_->requestsOfType(WG_API_SERVICE_REQUEST);
  ASSERT_EQ(requests.size(), 2u);
  const ServiceBytes main = PlainServiceBlock(requests[1]);
  EXPECT_EQ(main[0], 14) << "a get with the flag set";
  EXPECT_EQ(LoadU16(&main[5]), 462) << "CorMtchNA";

  // Without the server's value the kit's default holds.
  EXPECT_EQ(WGSMatchTemplatePair(record_.data(), matchTemplate_.data(), &figures),
            ScoreExceedsMinimum(figures.fS, kDefaultMinimumScore) ? WG_MATCH : WG_NO_MATCH);
  EXPECT_TRUE(contains(traceTexts(), "MS 0.50"));
  EXPECT_EQ(takeError(), 0);
}

TEST_F(MatcherAgainstServerTest, SmallRecordIsComparedLikeAFullOne) {
  startAndAttach({"--reply", MinimumScoreReply(kDefaultMinimumScore)});
  Bytes small(WG_SMALL_REFERENCE_TEMPLATE_SIZE, 0);
  std::memcpy(small.data(), record_.data(), 358);
  StoreI16(&small[0], WG_SMALL_REFERENCE_TEMPLATE_TYPE);
  small[23] = 2;
  MatchFigures viaRecord{};
  const WGResult result = WGSMatchTemplatePair(small.data(), matchTemplate_.data(), &viaRecord);
  MatchFigures direct{};
  EXPECT_EQ(WGMatchBiiTemplatePair(small.data() + 10, matchTemplate_.data(), kDefaultMinimumScore,
                                   &direct),
            result);
  EXPECT_EQ(std::memcmp(&viaRecord, &direct, sizeof direct), 0);
  EXPECT_GT(viaRecord.fS, 0.0f) << "the small form is a template the matcher accepts";
  EXPECT_TRUE(contains(traceTexts(), "WGBiiMatchImageToTemplate: Q "));
}

}  // namespace

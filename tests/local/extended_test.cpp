// The extended calls: the image acquisition against the scripted server, and building and
// matching templates in the process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>

#include "connect/event_dispatch.h"
#include "local/extended_calls.h"
#include "local/matcher_adapter.h"
#include "local/template_record.h"
#include "platform/time.h"
#include "tests/local/extended_support.h"
#include "tests/rpc/rpc_fixture.h"

namespace {

// A sealed record of `type` whose body is `fill`.
Bytes SealedRecord(int16_t type, uint8_t fill) {
  Bytes record(type == WG_REFERENCE_TEMPLATE_TYPE ? WG_REFERENCE_TEMPLATE_SIZE
                                                  : WG_SMALL_REFERENCE_TEMPLATE_SIZE,
               fill);
  StoreI16(record.data(), type);
  EXPECT_TRUE(WGEncryptIOTemplateRecForExport(record.data()));
  return record;
}

// The event types a callback has seen, with the user value it was given.
std::mutex g_eventLock;
std::condition_variable g_eventArrived;
std::vector<std::pair<uint32_t, uint16_t>> g_events;

void RecordEvent(uint32_t userValue, WGEventMessage* message) {
  {
    std::lock_guard<std::mutex> guard(g_eventLock);
    g_events.emplace_back(userValue, message->uiMessageType);
  }
  g_eventArrived.notify_all();
  WGReleaseMessage(message);
}

bool AwaitEvent(uint32_t userValue, uint16_t type) {
  std::unique_lock<std::mutex> guard(g_eventLock);
  return g_eventArrived.wait_for(guard, std::chrono::seconds(5), [&] {
    for (const auto& e : g_events) {
      if (e == std::make_pair(userValue, type)) return true;
    }
    return false;
  });
}

class ExtendedTest : public RpcTest {
 protected:
  std::vector<uint8_t> lastRequest(uint16_t type) {
    auto found = server_->requestsOfType(type);
    return found.empty() ? Bytes{} : found.back().bytes;
  }
};

TEST_F(ExtendedTest, AcquisitionRequestLayouts) {
  startAndAttach(
      {"--reply", BeginAcquireReply(), "--reply", EndAcquireReply(WG_OK, UniformImageBuffer(9))});
  const Bytes small = SealedRecord(WG_SMALL_REFERENCE_TEMPLATE_TYPE, 0x11);
  const Bytes full = SealedRecord(WG_REFERENCE_TEMPLATE_TYPE, 0x22);
  struct Case {
    const char* what;
    const Bytes* record;
    uint16_t option;
    uint32_t size;
  } cases[] = {
      {"without a template", nullptr, 0x1234, 19},
      {"with a small reference template record", &small, 0xFFFF, 402},
      {"with a reference template record", &full, 7, 2402},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t id =
        WGBeginAcquireImage(nullptr, 0, c.option, c.record ? c.record->data() : nullptr);
    ASSERT_NE(id, 0u);
    const Bytes request = lastRequest(WG_API_BEGIN_ACQUIRE_IMAGE);
    ASSERT_EQ(request.size(), c.size);
    EXPECT_EQ(LoadU32(&request[0]), c.size);
    EXPECT_EQ(LoadU32(&request[4]), static_cast<uint32_t>(getpid()));
    EXPECT_EQ(LoadU16(&request[8]), WG_API_BEGIN_ACQUIRE_IMAGE);
    EXPECT_EQ(LoadU16(&request[10]), c.option);
    EXPECT_EQ(LoadU16(&request[12]), 0);
    EXPECT_EQ(LoadU32(&request[14]), c.record ? 1u : 0u);
    if (c.record) {
      EXPECT_EQ(Bytes(request.begin() + 18, request.end()), *c.record) << "sent sealed, as given";
    }

    EXPECT_EQ(WGEndAcquireImage(id, nullptr), WG_OK);
    const Bytes end = lastRequest(WG_API_END_ACQUIRE_IMAGE);
    ASSERT_EQ(end.size(), 13u);
    EXPECT_EQ(LoadU32(&end[0]), 13u);
    EXPECT_EQ(LoadU32(&end[4]), static_cast<uint32_t>(getpid()));
    EXPECT_EQ(LoadU16(&end[8]), WG_API_END_ACQUIRE_IMAGE);
  }
  EXPECT_EQ(takeError(), 0);
}

// Applications hold sealed records only: one that does not open is refused unasked.
TEST_F(ExtendedTest, BeginRefusesATemplateThatIsNotAValidRecord) {
  startAndAttach({"--reply", BeginAcquireReply()});
  Bytes plain(WG_REFERENCE_TEMPLATE_SIZE, 0);
  StoreI16(&plain[0], WG_REFERENCE_TEMPLATE_TYPE);
  Bytes tampered = SealedRecord(WG_REFERENCE_TEMPLATE_TYPE, 0x33);
  tampered[1000] ^= 0x01;
  for (const Bytes* record : {&plain, &tampered}) {
    EXPECT_EQ(WGBeginAcquireImage(nullptr, 0, 0, record->data()), 0u);
    EXPECT_EQ(takeError(), 0);
  }
  EXPECT_TRUE(server_->requestsOfType(WG_API_BEGIN_ACQUIRE_IMAGE).empty());
  EXPECT_FALSE(IsTransactionActive());
  EXPECT_TRUE(contains(traceTexts(), "ERROR WGBeginAcquireImage: Input Template Corrupted."));
}

TEST_F(ExtendedTest, OneTransactionAtATimeAndEndOnlyForTheCurrentOne) {
  const Bytes image = FingerImageBuffer(3, 1);
  startAndAttach({"--reply", BeginAcquireReply(), "--event-after", AcquireCompleteAfter(30),
                  "--reply", EndAcquireReply(WG_OK, image)});
  const uint32_t id = WGBeginAcquireImage(RecordEvent, 77, 0, nullptr);
  ASSERT_NE(id, 0u);
  traceTexts();

  EXPECT_EQ(WGBeginAcquireImage(nullptr, 0, 0, nullptr), 0u);
  EXPECT_EQ(takeError(), WGERR_CLIENT_PREV_TRNSACTN_IN_PROG);
  auto texts = traceTexts();
  EXPECT_TRUE(contains(texts, "ERROR WGBeginAcquireImage: transaction already active"));
  EXPECT_TRUE(contains(texts, "WGBeginAcquireImage: returning WG_FUNCTION_FAILED"));
  EXPECT_TRUE(contains(texts, "EXITING WGBeginAcquireImage: ERROR transaction active"));
  EXPECT_EQ(server_->requestsOfType(WG_API_BEGIN_ACQUIRE_IMAGE).size(), 1u);
  EXPECT_EQ(CurrentTransactionId(), id) << "the running acquisition is not disturbed";

  ASSERT_TRUE(AwaitEvent(77, WG_MSG_ACQUIRE_COMPLETE));
  Bytes buffer(WG_IMAGE_BUFFER_SIZE, 0);
  EXPECT_EQ(WGEndAcquireImage(id, buffer.data()), WG_OK);
  EXPECT_EQ(buffer, image);
  EXPECT_FALSE(IsTransactionActive());

  EXPECT_EQ(WGEndAcquireImage(id, buffer.data()), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_CLIENT_NO_CURRENT_TRNSACTN);
  texts = traceTexts();
  EXPECT_TRUE(contains(texts, "ERROR WGEndAcquireImage: invalid transaction ID"));
  EXPECT_TRUE(contains(texts, "WGEndAcquireImage: returning WG_FUNCTION_FAILED"));
  EXPECT_TRUE(contains(texts, "EXITING WGEndAcquireImage: ERROR bad transaction"));
  EXPECT_EQ(server_->requestsOfType(WG_API_END_ACQUIRE_IMAGE).size(), 1u);
}

TEST_F(ExtendedTest, EndDeliversTheImageWhateverTheServersResult) {
  const Bytes image = FingerImageBuffer(5, 2);
  startAndAttach({"--reply", BeginAcquireReply(), "--event-after", AcquireCompleteAfter(20),
                  "--reply", EndAcquireReply(WG_BAD_IMAGE, image)});
  const uint32_t id = WGBeginAcquireImage(nullptr, 0, 0, nullptr);
  ASSERT_NE(id, 0u);
  WGEventMessage* message = nullptr;
  const uint32_t start = platform::GetTickCount();
  while (!message && !platform::TickBudgetSpent(start, 5000)) {
    message = WGContinueTransaction(id);
    if (!message) platform::SleepMs(10);
  }
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->uiMessageType, WG_MSG_ACQUIRE_COMPLETE);
  WGReleaseMessage(message);
  traceTexts();

  Bytes buffer(WG_IMAGE_BUFFER_SIZE, 0);
  EXPECT_EQ(WGEndAcquireImage(id, buffer.data()), WG_BAD_IMAGE);
  EXPECT_EQ(buffer, image);
  auto texts = traceTexts();
  EXPECT_TRUE(contains(texts, "ERROR WGEndAcquireImage: server error while ending transaction"));
  EXPECT_TRUE(contains(texts, "WGEndAcquireImage: retcode =  0x9"));
  EXPECT_EQ(takeError(), 0);
}

TEST_F(ExtendedTest, AServerThatCannotStartRefusesWithItsText) {
  startAndAttach({"--reply", BeginAcquireReply(), "--reply", BeginAcquireReply(1), "--reply",
                  BeginAcquireReply()});
  const uint32_t first = WGBeginAcquireImage(nullptr, 0, 0, nullptr);
  ASSERT_NE(first, 0u);
  WGAbortTransaction(first);
  traceTexts();

  EXPECT_EQ(WGBeginAcquireImage(nullptr, 0, 0, nullptr), 0u);
  char text[256];
  EXPECT_EQ(TakeClientError(text, nullptr), WGERR_IMAGE_REQUEST_REFUSED);
  EXPECT_STREQ(text,
               "There is some type of problem in the server, new transaction can not be started.");
  EXPECT_TRUE(
      contains(traceTexts(), "ERROR WGBeginAcquireImage: server error starting transaction"));
  EXPECT_FALSE(IsTransactionActive());
  EXPECT_EQ(WGBeginAcquireImage(nullptr, 0, 0, nullptr), first + 1) << "a refusal uses up no id";
}

TEST_F(ExtendedTest, ARecordMatchesAMatchTemplateOfTheSameImage) {
  startAndAttach({"--reply", MinimumScoreReply(kDefaultMinimumScore)});
  const Bytes image = FingerImageBuffer(4, 0);
  Bytes record(WG_REFERENCE_TEMPLATE_SIZE, 0);
  Bytes matchTemplate(WG_MATCH_TEMPLATE_SIZE, 0);
  ASSERT_EQ(WGBuildReferenceTemplate(image.data(), record.data()), WG_OK);
  int16_t type = 0;
  uint16_t size = 0;
  ASSERT_TRUE(WGCheckIOTemplateRec(record.data(), &type, &size)) << "left the call sealed";
  EXPECT_EQ(type, WG_REFERENCE_TEMPLATE_TYPE);
  EXPECT_EQ(size, WG_REFERENCE_TEMPLATE_SIZE);
  ASSERT_EQ(WGBuildMatchTemplate(image.data(), matchTemplate.data()), WG_OK);
  EXPECT_TRUE(contains(traceTexts(), "WGBuildMatchTemplate: WGSBuildMatchTemplate result =  0x0"));

  const Bytes sealed = record;
  EXPECT_EQ(WGMatchTemplatePair(record.data(), matchTemplate.data()), WG_MATCH);
  EXPECT_EQ(record, sealed) << "only a private copy is opened";
  auto texts = traceTexts();
  for (int i = 0; i < 28; ++i) {
    const std::string line = "WGMatchTemplatePair: Before WGDecipherIOTemplateRec, byte " +
                             std::to_string(i) + " = " + std::to_string(sealed[i]);
    EXPECT_TRUE(contains(texts, line)) << line;
  }
  EXPECT_FALSE(contains(texts, "Before WGDecipherIOTemplateRec, byte 28 ="));
  EXPECT_TRUE(contains(texts, "WGMatchTemplatePair: BII_LOCAL result =  0x2"));

  Bytes small(WG_SMALL_REFERENCE_TEMPLATE_SIZE, 0);
  ASSERT_EQ(WGConvertNormalReferenceTemplateToSmall(small.data(), record.data()), WG_OK);
  EXPECT_EQ(WGMatchTemplatePair(small.data(), matchTemplate.data()), WG_MATCH);

  record[100] ^= 0x01;
  traceTexts();
  EXPECT_EQ(WGMatchTemplatePair(record.data(), matchTemplate.data()), WG_FUNCTION_FAILED);
  EXPECT_EQ(takeError(), WGERR_PARAMETER_INVALID);
  texts = traceTexts();
  EXPECT_TRUE(contains(
      texts, "ERROR WGMatchTemplatePair: Input Reference Template Invalid, exiting fucntion."));
  EXPECT_TRUE(contains(texts, "WGMatchTemplatePair: returning WG_FUNCTION_FAILED"));
  EXPECT_TRUE(contains(texts, "EXITING WGMatchTemplatePair"));
}

TEST_F(ExtendedTest, NullArguments) {
  startAndAttach();
  uint8_t buffer[WG_MATCH_TEMPLATE_SIZE] = {};
  struct Case {
    const char* what;
    std::function<WGResult()> call;
    int16_t clientError;
    const char* trace;
  } cases[] = {
      {"build match, no image", [&] { return WGBuildMatchTemplate(nullptr, buffer); }, 0,
       "ERROR WGBuildMatchTemplate: Bad parameter (NULL)."},
      {"build match, no template", [&] { return WGBuildMatchTemplate(buffer, nullptr); }, 0,
       "WGBuildMatchTemplate: returning WG_BAD_POINTER"},
      {"build reference, no image", [&] { return WGBuildReferenceTemplate(nullptr, buffer); },
       WGERR_PARAMETER_INVALID, "ERROR WGBuildReferenceTemplate: Bad parameter (NULL)."},
      {"build reference, no record", [&] { return WGBuildReferenceTemplate(buffer, nullptr); },
       WGERR_PARAMETER_INVALID, "WGBuildReferenceTemplate: returning WG_BAD_POINTER"},
      {"match, no record", [&] { return WGMatchTemplatePair(nullptr, buffer); },
       WGERR_PARAMETER_INVALID, "ERROR WGMatchTemplatePair: Bad parameter (NULL)."},
      {"match, no match template",
       [&] { return WGMatchTemplatePairEx(buffer, nullptr, nullptr, nullptr, 0); },
       WGERR_PARAMETER_INVALID, "WGMatchTemplatePair: returning WG_BAD_POINTER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    traceTexts();
    EXPECT_EQ(c.call(), WG_BAD_POINTER);
    EXPECT_EQ(takeError(), c.clientError);
    EXPECT_TRUE(contains(traceTexts(), c.trace)) << c.trace;
  }
  EXPECT_TRUE(server_->requests().empty());
}

TEST(MatchCriteria, DecideInPlaceOfTheMinimumScore) {
  const WGMatchDetails untouched{-7, 7, 7};
  // clang-format off
  struct Case {
    const char* what;
    WGResult adapter;
    float score;
    std::optional<WGMatchCriteria> criteria;
    WGResult expected;
    WGMatchDetails details;
  } cases[] = {
      {"score 0.5 within both limits", WG_NO_MATCH, 0.5f, WGMatchCriteria{300, 300, 0}, WG_MATCH, {1, 300, 300}},
      {"score 0.55 above the rising limit", WG_MATCH, 0.55f, WGMatchCriteria{300, 300, 0}, WG_NO_MATCH, {0, 200, 330}},
      {"score 0.55, rising limit ignored", WG_NO_MATCH, 0.55f, WGMatchCriteria{300, 300, 1}, WG_MATCH, {1, 200, 330}},
      {"score 0.55 above the falling limit", WG_MATCH, 0.55f, WGMatchCriteria{199, 10000, 1}, WG_NO_MATCH, {0, 200, 330}},
      {"no criteria: the minimum score's verdict", WG_NO_MATCH, 0.55f, std::nullopt, WG_NO_MATCH, {0, 200, 330}},
      {"no criteria, a match", WG_MATCH, 0.5f, std::nullopt, WG_MATCH, {1, 300, 300}},
      {"no memory", WG_OUT_OF_MEMORY, 0.9f, WGMatchCriteria{300, 300, 1}, WG_OUT_OF_MEMORY, untouched},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WGMatchDetails details = untouched;
    EXPECT_EQ(DecideMatch(c.adapter, c.score, c.criteria ? &*c.criteria : nullptr, &details),
              c.expected);
    EXPECT_EQ(details.lMatched, c.details.lMatched);
    EXPECT_EQ(details.usFallingConfidence, c.details.usFallingConfidence);
    EXPECT_EQ(details.usRisingConfidence, c.details.usRisingConfidence);
  }
}

// Criteria replace the server's minimum; without them a minimum out of reach decides.
TEST_F(ExtendedTest, CriteriaOverruleTheServersMinimum) {
  startAndAttach({"--reply", MinimumScoreReply(0xFFFF)});
  const Bytes image = FingerImageBuffer(6, 0);
  Bytes record(WG_REFERENCE_TEMPLATE_SIZE, 0);
  Bytes matchTemplate(WG_MATCH_TEMPLATE_SIZE, 0);
  ASSERT_EQ(WGBuildReferenceTemplate(image.data(), record.data()), WG_OK);
  ASSERT_EQ(WGBuildMatchTemplate(image.data(), matchTemplate.data()), WG_OK);
  WGMatchDetails details{-1, 0, 0};
  EXPECT_EQ(WGMatchTemplatePairEx(record.data(), matchTemplate.data(), nullptr, &details, 0),
            WG_NO_MATCH);
  EXPECT_EQ(details.lMatched, 0);
  const WGMatchCriteria anything{10000, 10000, 1};
  EXPECT_EQ(WGMatchTemplatePairEx(record.data(), matchTemplate.data(), &anything, &details, 0),
            WG_MATCH);
  EXPECT_EQ(details.lMatched, 1);
  EXPECT_LT(details.usFallingConfidence, 300) << "a print against itself scores high";
}

// Matching for real: the synthetic database's fingers through the exported calls.
TEST_F(ExtendedTest, ImpressionsOfOneFingerMatchAndOfOthersDoNot) {
  startAndAttach({"--reply", MinimumScoreReply(kDefaultMinimumScore)});
  constexpr uint32_t kFingers = 6;
  std::vector<Bytes> full, small;
  for (uint32_t f = 0; f < kFingers; ++f) {
    const Bytes image = FingerImageBuffer(f, 0);
    full.emplace_back(WG_REFERENCE_TEMPLATE_SIZE);
    ASSERT_EQ(WGBuildReferenceTemplate(image.data(), full.back().data()), WG_OK);
    small.emplace_back(WG_SMALL_REFERENCE_TEMPLATE_SIZE);
    ASSERT_EQ(WGConvertNormalReferenceTemplateToSmall(small.back().data(), full.back().data()),
              WG_OK);
  }
  struct Tally {
    int genuine = 0, genuineMatched = 0, impostor = 0, impostorMatched = 0;
  } fullTally, smallTally;
  for (uint32_t f = 0; f < kFingers; ++f) {
    for (uint32_t impression = 1; impression <= 3; ++impression) {
      const Bytes probe = FingerImageBuffer(f, impression);
      Bytes matchTemplate(WG_MATCH_TEMPLATE_SIZE);
      ASSERT_EQ(WGBuildMatchTemplate(probe.data(), matchTemplate.data()), WG_OK);
      for (uint32_t r = 0; r < kFingers; ++r) {
        for (auto [records, tally] :
             {std::pair{&full, &fullTally}, std::pair{&small, &smallTally}}) {
          const WGResult result = WGMatchTemplatePair((*records)[r].data(), matchTemplate.data());
          ASSERT_TRUE(result == WG_MATCH || result == WG_NO_MATCH) << result;
          const bool matched = result == WG_MATCH;
          if (r == f) {
            ++tally->genuine;
            tally->genuineMatched += matched;
          } else {
            ++tally->impostor;
            tally->impostorMatched += matched;
          }
        }
      }
    }
  }
  // The rates themselves are the evaluation tool's to measure; here a fault on the way (the
  // packed levels, the bitmap, the record's form) would leave hardly a finger recognised, and
  // an impostor passing would be a fault of the decision.
  EXPECT_GE(4 * fullTally.genuineMatched, 3 * fullTally.genuine)
      << fullTally.genuineMatched << " of " << fullTally.genuine;
  EXPECT_GE(2 * smallTally.genuineMatched, smallTally.genuine)
      << smallTally.genuineMatched << " of " << smallTally.genuine;
  EXPECT_EQ(fullTally.impostorMatched, 0) << "of " << fullTally.impostor;
  EXPECT_EQ(smallTally.impostorMatched, 0) << "of " << smallTally.impostor;
  EXPECT_EQ(takeError(), 0);
}

TEST(MatchTemplateSize, Is8209) {
  EXPECT_EQ(WGGetMatchTemplateSize(), 8209);
}

}  // namespace

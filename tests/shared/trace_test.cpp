#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "shared/trace.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"

namespace {

class TraceTest : public IsolatedTest {
 protected:
  void TearDown() override {
    TraceShutdown();
    IsolatedTest::TearDown();
  }
  void init(const char* prefix) {
    g_pTraceControl = TraceInit(prefix);
    ASSERT_NE(g_pTraceControl.load(), nullptr);
  }
  std::vector<TraceRecord> takeAll() {
    std::vector<TraceRecord> records;
    TraceRecord record;
    while (TraceTakeRecord(&record, sizeof record)) records.push_back(record);
    return records;
  }
  static size_t indentation(const TraceRecord& r, size_t prefixLength) {
    const char* text = r.szText + prefixLength;
    return strspn(text, " ");
  }
};

TEST_F(TraceTest, NothingHappensBeforeInit) {
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "lost", nullptr);
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING lost");
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING lost");
  TraceRecord record;
  EXPECT_FALSE(TraceTakeRecord(&record, sizeof record));
  EXPECT_FALSE(std::filesystem::exists(scratch() + "/objects/WGServerMemoryObjectEFFFFFFF"));
}

TEST_F(TraceTest, InitOpensTheTracePipeAndTheReservedPipes) {
  init("WGRPC: ");
  for (const char* suffix : {"EFFFFFFF", "1FFFFFFF", "2FFFFFFF", "3FFFFFFF", "4FFFFFFF",
                             "5FFFFFFF", "6FFFFFFF", "0EFFFFFF"}) {
    EXPECT_TRUE(std::filesystem::exists(scratch() + "/objects/WGServerMemoryObject" + suffix))
        << suffix;
  }
  EXPECT_EQ(TraceInit("again"), nullptr) << "one trace control per process";
  TraceControl* control = g_pTraceControl;
  EXPECT_STREQ(control->szWhereNames[31], "FrameWork");
  EXPECT_STREQ(control->szWhereNames[26], "RPC DLL");
  EXPECT_STREQ(control->szWhereNames[21], "Chip I/O");
  EXPECT_STREQ(control->szWhereNames[20], "");
  EXPECT_STREQ(control->szTypeNames[3], "API Result");
  EXPECT_STREQ(control->szTypeNames[16], "OldStyleMsg");
  EXPECT_STREQ(control->szTypeNames[28], "StateInfo");
  EXPECT_STREQ(control->szTypeNames[4], "");
}

TEST_F(TraceTest, RecordCarriesPrefixTextValueAndCategories) {
  init("WGRPC: ");
  int16_t small = -127;
  int32_t wide = -127;
  TraceMsg16(TRACE_WHERE_RPC_DLL, TRACE_TYPE_CRITICAL, "sixteen", &small);
  TraceMsg(TRACE_WHERE_OS_PIPE, TRACE_TYPE_INFO, "WGRPC: Sending API message to server", &wide);
  TraceMsg(TRACE_WHERE_OS_PIPE, TRACE_TYPE_INFO, "plain", nullptr);
  auto records = takeAll();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_STREQ(records[0].szText, "WGRPC: sixteen 0xff81");
  EXPECT_EQ(records[0].uiWhere, TRACE_WHERE_RPC_DLL);
  EXPECT_EQ(records[0].uiType, TRACE_TYPE_CRITICAL);
  EXPECT_EQ(records[0].uiSize, kTraceRecordSize);
  EXPECT_STREQ(records[1].szText, "WGRPC: WGRPC: Sending API message to server 0xffffff81");
  EXPECT_STREQ(records[2].szText, "WGRPC: plain");
  const char* end = records[2].szText + strlen(records[2].szText);
  const char* fieldEnd = records[2].szText + kTraceTextLength;
  EXPECT_TRUE(std::all_of(end, fieldEnd, [](char c) { return c == 0; }))
      << "zero-filled after the text";
}

TEST_F(TraceTest, TextsThatDoNotFitAreLeftOut) {
  init("P: ");
  std::string tooLong(300, 'x');
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, tooLong.c_str(), nullptr);
  std::string nearlyFull(252 - 3, 'y');  // prefix + text = 252: the value would not fit
  int32_t value = 0x1234;
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, nearlyFull.c_str(), &value);
  auto records = takeAll();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_STREQ(records[0].szText, "P: ");
  EXPECT_EQ(std::string(records[1].szText), "P: " + nearlyFull);
}

TEST_F(TraceTest, NestedEnterAndExitIndentByTwo) {
  init("");
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING a");
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING b");
  TraceEnter(TRACE_WHERE_RPC_DLL, "ENTERING c");
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING c");
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING b");
  TraceExit(TRACE_WHERE_RPC_DLL, "EXITING a");
  auto records = takeAll();
  ASSERT_EQ(records.size(), 6u);
  const size_t expected[] = {0, 2, 4, 4, 2, 0};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(indentation(records[i], 0), expected[i]) << i;
    EXPECT_EQ(records[i].uiType, i < 3 ? TRACE_TYPE_ENTER : TRACE_TYPE_EXIT);
  }
  EXPECT_STREQ(records[4].szText, "  EXITING b");
}

TEST_F(TraceTest, FullPipeDropsNewRecordsAndKeepsTheOldOnes) {
  init("");
  for (int i = 0; i < 300; ++i) TraceValue(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "n", i);
  auto records = takeAll();
  ASSERT_EQ(records.size(), 225u) << "65,536 bytes hold 225 records of 272 + 18 bytes";
  EXPECT_STREQ(records.front().szText, "n 0x0");
  EXPECT_STREQ(records.back().szText, "n 0xe0");
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "room again", nullptr);
  EXPECT_EQ(takeAll().size(), 1u);
}

TEST_F(TraceTest, TakeCopiesNoMoreThanAsked) {
  init("");
  TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, "abc", nullptr);
  uint8_t buffer[20];
  memset(buffer, 0xEE, sizeof buffer);
  ASSERT_TRUE(TraceTakeRecord(buffer, 17));
  EXPECT_EQ(buffer[16], 'a');
  EXPECT_EQ(buffer[17], 0xEE);
}

TEST_F(TraceTest, TwoTracingProcessesLoseNothingWhileThereIsRoom) {
  init("reader: ");
  PeerProcess first, second;
  ASSERT_TRUE(first.start({"trace", "A: ", "110"}));
  ASSERT_TRUE(second.start({"trace", "B: ", "110"}));
  EXPECT_TRUE(first.expectLine("done"));
  EXPECT_TRUE(second.expectLine("done"));
  std::map<std::string, std::vector<std::string>> bySource;
  for (const TraceRecord& r : takeAll()) {
    std::string text = r.szText;
    bySource[text.substr(0, 3)].push_back(text.substr(3));
  }
  ASSERT_EQ(bySource.size(), 2u);
  for (auto& [source, texts] : bySource) {
    ASSERT_EQ(texts.size(), 110u) << source;
    for (int i = 0; i < 110; ++i) {
      char expected[32];
      snprintf(expected, sizeof expected, "record 0x%x", i);
      EXPECT_EQ(texts[i], expected) << source << " keeps its order";
    }
  }
}

}  // namespace

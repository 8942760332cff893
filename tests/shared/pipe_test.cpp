#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <deque>
#include <thread>
#include <vector>

#include "platform/time.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"
#include "tests/support/isolation.h"
#include "tests/support/message_pattern.h"
#include "tests/support/peer_process.h"

namespace {

class PipeTest : public IsolatedTest {
 protected:
  void TearDown() override {
    for (PipeCntl* pipe : opened_) WGCloseMessagePipe(pipe);
    IsolatedTest::TearDown();
  }
  PipeCntl* openInput(int32_t number) {
    auto* pipe = &controls_.emplace_back();
    EXPECT_EQ(WGOpenInputMessagePipe(pipe, number), 0);
    opened_.push_back(pipe);
    return pipe;
  }
  PipeCntl* openOutput(int32_t number) {
    auto* pipe = &controls_.emplace_back();
    EXPECT_EQ(WGOpenOutputMessagePipe(pipe, number), 0);
    opened_.push_back(pipe);
    return pipe;
  }
  static std::string gotLine(const std::vector<uint8_t>& message) {
    char line[64];
    snprintf(line, sizeof line, "got %zu %08x", message.size(),
             Fnv1a(message.data(), static_cast<uint32_t>(message.size())));
    return line;
  }

 private:
  std::deque<PipeCntl> controls_;
  std::vector<PipeCntl*> opened_;
};

TEST(PipeNames, SuffixIsTheHexNumberLeastSignificantDigitFirst) {
  struct Case {
    int32_t number;
    const char* suffix;
  } cases[] = {{0, ""}, {18, "21"}, {419, "3A1"}, {4660, "4321"}, {-2, "EFFFFFFF"}};
  for (const Case& c : cases) {
    char mapping[kPipeNameLength], event[kPipeNameLength], mutex[kPipeNameLength];
    WGMakePipeObjectNames(mapping, event, mutex, c.number);
    EXPECT_EQ(std::string(mapping), std::string("WGServerMemoryObject") + c.suffix);
    EXPECT_EQ(std::string(event), std::string("WGServerPipeMsgRdy") + c.suffix);
    EXPECT_EQ(std::string(mutex), std::string("WGServerPipeLockMutex") + c.suffix);
  }
}

TEST_F(PipeTest, OutputPipeNeedsItsOwner) {
  PipeCntl pipe{};
  EXPECT_EQ(WGOpenOutputMessagePipe(&pipe, 77), PIPE_ERR_OPEN);
  EXPECT_EQ(pipe.hMapping, nullptr);
  EXPECT_EQ(pipe.pView, nullptr);
  EXPECT_EQ(pipe.hMsgRdy, nullptr);
  EXPECT_EQ(pipe.hLock, nullptr);
  EXPECT_FALSE(std::filesystem::exists(scratch() + "/objects")) << "not even the namespace";

  PipeCntl* input = openInput(77);
  EXPECT_STREQ(input->szMappingName, "WGServerMemoryObjectD4");
  EXPECT_EQ(input->iPipeNumber, 77);
  openOutput(77);
}

TEST_F(PipeTest, MessagesOfAnyLengthArriveWholeAcrossProcesses) {
  const std::vector<uint32_t> lengths = {1, 64, kPipeMaxChunk, kPipeMaxChunk + 1, 200000,
                                         3u << 20};
  PeerProcess reader;
  ASSERT_TRUE(reader.start({"read", "4100", "10000", std::to_string(lengths.size())}));
  ASSERT_TRUE(reader.expectLine("ready"));
  PipeCntl* pipe = openOutput(4100);
  for (uint32_t length : lengths) {
    SCOPED_TRACE(length);
    auto message = PatternMessage(length, length);
    ASSERT_EQ(WGSendPipeMessage(pipe, message.data(), length), 0);
    EXPECT_EQ(reader.readLine(), gotLine(message));
  }
  EXPECT_EQ(reader.wait(), 0);
}

TEST_F(PipeTest, ChunksAreCutAtTheAreaSize) {
  // With nobody reading, the first chunk stays in the area for inspection; a longer message
  // then gives up waiting for the reader.
  struct Case {
    uint32_t length;
    int16_t status;
    uint32_t firstChunk;
    uint32_t toFollow;
  } cases[] = {{kPipeMaxChunk, 0, kPipeMaxChunk, 0}, {kPipeMaxChunk + 1, WG_FUNCTION_FAILED, kPipeMaxChunk, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    PipeCntl* input = openInput(static_cast<int32_t>(c.length));
    PipeCntl* output = openOutput(static_cast<int32_t>(c.length));
    auto message = PatternMessage(c.length, 3);
    EXPECT_EQ(WGSendPipeMessage(output, message.data(), c.length), c.status);
    const uint8_t* area = input->pView;
    EXPECT_EQ(LoadU32(area + kPipeRecSize), c.firstChunk + kPipeRecordHeaderSize);
    EXPECT_EQ(LoadI32(area + kPipeRecPipeNumber), static_cast<int32_t>(c.length));
    EXPECT_EQ(LoadU16(area + kPipeRecType), kPipeRecordType);
    EXPECT_EQ(LoadU32(area + kPipeRecBytesToFollow), c.toFollow);
    EXPECT_EQ(LoadU32(area + kPipeRecChunkLength), c.firstChunk);
    EXPECT_EQ(memcmp(area + kPipeRecData, message.data(), c.firstChunk), 0);
    EXPECT_EQ(WGPipeMessageWaiting(input, kPipeRecordType), c.firstChunk + kPipeRecordHeaderSize);
    EXPECT_EQ(WGPipeMessageWaiting(input, 24), 0u);
  }
}

TEST_F(PipeTest, ZeroLengthMessageSendsNothing) {
  PipeCntl* input = openInput(5);
  PipeCntl* output = openOutput(5);
  EXPECT_EQ(WGSendPipeMessage(output, nullptr, 0), 0);
  EXPECT_EQ(WGPipeMessageWaiting(input, 0), 0u);
}

TEST_F(PipeTest, ReadGivesUpAfterItsBudget) {
  PipeCntl* input = openInput(6);
  uint32_t start = platform::GetTickCount();
  EXPECT_EQ(WGReadPipe(input, 100), nullptr);
  uint32_t spent = platform::GetTickCount() - start;
  EXPECT_GE(spent, 100u);
  EXPECT_LT(spent, 2000u);
}

TEST_F(PipeTest, FlushDiscardsTheWaitingMessage) {
  PipeCntl* input = openInput(7);
  PipeCntl* output = openOutput(7);
  auto message = PatternMessage(100, 1);
  ASSERT_EQ(WGSendPipeMessage(output, message.data(), 100), 0);
  EXPECT_TRUE(WGFlushInputPipe(input));
  EXPECT_FALSE(platform::IsEventSet(input->hMsgRdy));
  EXPECT_EQ(WGReadPipe(input, 100), nullptr);
}

TEST_F(PipeTest, WriterGivesUpOnAPipeThatStaysFull) {
  PipeCntl* input = openInput(8);
  PipeCntl* output = openOutput(8);
  auto message = PatternMessage(10, 1);
  ASSERT_EQ(WGSendPipeMessage(output, message.data(), 10), 0);
  uint32_t start = platform::GetTickCount();
  EXPECT_EQ(WGSendPipeMessage(output, message.data(), 10), WG_FUNCTION_FAILED);
  uint32_t spent = platform::GetTickCount() - start;
  EXPECT_GE(spent, 1500u) << "20 attempts of about 100 ms";
  EXPECT_LT(spent, 10000u);
  uint32_t length = 0;
  uint8_t* got = WGReadPipe(input, 100, &length);
  ASSERT_NE(got, nullptr) << "the first message is still there";
  EXPECT_EQ(length, 10u);
  free(got);
}

TEST_F(PipeTest, IllegalWritesAreRefused) {
  PipeCntl* output = openInput(9);
  uint8_t record[20] = {};
  EXPECT_EQ(WGWriteOutputPipe(output, nullptr, 20), PIPE_ERR_WRITE);
  EXPECT_EQ(WGWriteOutputPipe(output, record, 0), PIPE_ERR_WRITE);
  PipeCntl closed{};
  EXPECT_EQ(WGWriteOutputPipe(&closed, record, 20), PIPE_ERR_WRITE);
}

TEST_F(PipeTest, SecondChunkThatNeverComesYieldsNothing) {
  PipeCntl* input = openInput(10);
  PeerProcess writer;
  // A first chunk of 100 bytes announcing 5000 more.
  ASSERT_TRUE(writer.start({"record", "10", "118", "25", "5000", "100"}));
  ASSERT_TRUE(writer.expectLine("wrote 0"));
  EXPECT_EQ(WGReadPipe(input, 300), nullptr);
  EXPECT_FALSE(platform::IsEventSet(input->hMsgRdy)) << "the chunk was taken and discarded";
}

TEST_F(PipeTest, MalformedRecordsAreDroppedAndTheNextMessageArrives) {
  struct Case {
    const char* what;
    std::vector<std::string> record;  // size field, type, bytes to follow, chunk length
  } cases[] = {
      {"chunk longer than its record", {"118", "25", "0", "60000"}},
      {"record size past the area", {"2147483647", "25", "0", "100"}},
      {"record size below the header", {"10", "25", "0", "0"}},
      {"foreign record type", {"118", "24", "0", "100"}},
      {"announces more than any message", {"118", "25", "4294967000", "100"}},
  };
  int32_t number = 20;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PipeCntl* input = openInput(++number);
    PeerProcess writer;
    std::vector<std::string> args = {"record", std::to_string(number)};
    args.insert(args.end(), c.record.begin(), c.record.end());
    ASSERT_TRUE(writer.start(args));
    ASSERT_TRUE(writer.expectLine("wrote 0"));
    EXPECT_EQ(WGReadPipe(input, 100), nullptr);
    EXPECT_FALSE(platform::IsEventSet(input->hMsgRdy)) << "dropped, so writers can go on";

    PeerProcess sender;
    ASSERT_TRUE(sender.start({"send", std::to_string(number), "300", "9"}));
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(input, 10000, &length);
    ASSERT_NE(message, nullptr);
    auto expected = PatternMessage(300, 9);
    EXPECT_EQ(std::vector<uint8_t>(message, message + length), expected);
    free(message);
    EXPECT_TRUE(sender.expectLine("sent 0"));
  }
}

TEST_F(PipeTest, ChunkThatDoesNotContinueTheMessageStartsANewOne) {
  PipeCntl* input = openInput(30);
  PeerProcess first, second;
  // The first chunk announces 10 bytes; the next record brings 50,000 and ends its message.
  ASSERT_TRUE(first.start({"record", "30", "118", "25", "10", "100"}));
  ASSERT_TRUE(first.expectLine("wrote 0"));
  std::thread reader;
  uint8_t* message = nullptr;
  uint32_t length = 0;
  reader = std::thread([&] { message = WGReadPipe(input, 10000, &length); });
  ASSERT_TRUE(second.start({"record", "30", "50018", "25", "0", "50000"}));
  reader.join();
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(length, 50000u);
  EXPECT_EQ(second.readLine(), "wrote 0");
  free(message);
}

class RecordQueueTest : public PipeTest {
 protected:
  void SetUp() override {
    PipeTest::SetUp();
    queue_ = openInput(-5);
  }
  std::vector<uint8_t> area() const { return {queue_->pView, queue_->pView + kPipeAreaSize}; }
  PipeCntl* queue_ = nullptr;
};

TEST_F(RecordQueueTest, AppendNeedsRoomForRecordAndEndMark) {
  auto data = PatternMessage(kPipeAreaSize, 5);
  ASSERT_EQ(WGAppendPipeRecord(queue_, data.data(), 100), 0);
  const uint32_t exact = kPipeAreaSize - 118 - 22;
  auto before = area();
  EXPECT_EQ(WGAppendPipeRecord(queue_, data.data(), exact + 1), WG_FUNCTION_FAILED);
  EXPECT_EQ(area(), before) << "a refused append leaves the queue unchanged";
  ASSERT_EQ(WGAppendPipeRecord(queue_, data.data(), exact), 0);
  EXPECT_EQ(LoadU32(queue_->pView + 118), exact + kPipeRecordHeaderSize);
  EXPECT_EQ(118 + exact + kPipeRecordHeaderSize + 4, kPipeAreaSize) << "end mark ends the area";
  EXPECT_EQ(LoadU32(queue_->pView + kPipeAreaSize - 4), 0u);
  EXPECT_EQ(WGAppendPipeRecord(queue_, data.data(), 0), WG_FUNCTION_FAILED);
}

TEST_F(RecordQueueTest, TakeReturnsRecordsInOrderAndClearsTheEventWhenEmpty) {
  auto first = PatternMessage(272, 1);
  auto second = PatternMessage(40, 2);
  ASSERT_EQ(WGAppendPipeRecord(queue_, first.data(), 272), 0);
  ASSERT_EQ(WGAppendPipeRecord(queue_, second.data(), 40), 0);
  EXPECT_EQ(LoadU32(queue_->pView + kPipeRecBytesToFollow), 0u);
  EXPECT_EQ(LoadI32(queue_->pView + kPipeRecPipeNumber), -5);

  uint32_t length = 0;
  uint8_t* taken = WGTakePipeRecord(queue_, &length);
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(taken, taken + length), first);
  free(taken);
  EXPECT_TRUE(platform::IsEventSet(queue_->hMsgRdy)) << "one record left";

  taken = WGTakePipeRecord(queue_, &length);
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(taken, taken + length), second);
  free(taken);
  EXPECT_FALSE(platform::IsEventSet(queue_->hMsgRdy));
  EXPECT_EQ(LoadU32(queue_->pView), 0u);
  EXPECT_EQ(WGTakePipeRecord(queue_), nullptr);
}

TEST_F(RecordQueueTest, BrokenChainIsNeverFollowedOutOfTheArea) {
  auto data = PatternMessage(100, 1);
  ASSERT_EQ(WGAppendPipeRecord(queue_, data.data(), 100), 0);
  // A hostile writer makes the second record's size run past the area.
  StoreU32(queue_->pView + 118, kPipeAreaSize);
  EXPECT_EQ(WGAppendPipeRecord(queue_, data.data(), 100), WG_FUNCTION_FAILED);

  uint8_t* taken = WGTakePipeRecord(queue_);
  ASSERT_NE(taken, nullptr) << "the intact first record is still delivered";
  free(taken);
  EXPECT_EQ(WGTakePipeRecord(queue_), nullptr) << "the broken one is not";
  EXPECT_FALSE(platform::IsEventSet(queue_->hMsgRdy));
  EXPECT_EQ(WGAppendPipeRecord(queue_, data.data(), 100), 0) << "the queue starts afresh";

  StoreU32(queue_->pView, 65530);  // chunk would end past the area
  StoreU32(queue_->pView + kPipeRecChunkLength, 65530);
  EXPECT_EQ(WGTakePipeRecord(queue_), nullptr);
  EXPECT_EQ(WGAppendPipeRecord(queue_, data.data(), 100), 0);
}

}  // namespace

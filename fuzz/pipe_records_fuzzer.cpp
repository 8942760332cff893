// Pipe records as another process may leave them in a pipe's shared area: the reassembly of a
// message from its chunks (WGReadPipe), and the walk of a record queue (WGTakePipeRecord,
// WGAppendPipeRecord).
//
// Input: one mode byte, then
//   chunks (mode bit 0 clear): [flags u8][length u16][length bytes] ...; flags bit 0 set: the
//     bytes are the whole record, header included; else the first 4 bytes are the bytes to
//     follow and the rest the chunk's data, with size, pipe number, type and chunk length
//     filled in as a writer of ours fills them;
//   a queue (mode bit 0 set): the area's first bytes, the rest of the area zero.
#include <atomic>
#include <cstring>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "platform/sync.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"

namespace {

constexpr int32_t kPipeNumber = 0x5EED;
// How long a side waits for the other before the run counts as hung.
constexpr uint32_t kStallMs = 5000;

PipeCntl g_pipe;

std::vector<uint8_t> RecordOf(bool raw, const std::vector<uint8_t>& bytes) {
  if (raw) return bytes;
  FuzzInput fields(bytes.data(), bytes.size());
  uint32_t bytesToFollow = fields.u32();
  std::vector<uint8_t> data = fields.rest();
  std::vector<uint8_t> record(kPipeRecordHeaderSize + data.size());
  StoreU32(record.data() + kPipeRecSize, static_cast<uint32_t>(record.size()));
  StoreI32(record.data() + kPipeRecPipeNumber, kPipeNumber);
  StoreU16(record.data() + kPipeRecType, kPipeRecordType);
  StoreU32(record.data() + kPipeRecBytesToFollow, bytesToFollow);
  StoreU32(record.data() + kPipeRecChunkLength, static_cast<uint32_t>(data.size()));
  if (!data.empty()) memcpy(record.data() + kPipeRecData, data.data(), data.size());
  if (record.size() > kPipeAreaSize) record.resize(kPipeAreaSize);
  return record;
}

// Reads every message the records make. A writer thread puts each record into the area as soon
// as the reader has taken the one before, and ends with an empty whole message, which finishes
// whatever the reader has gathered so far.
void Reassemble(FuzzInput& input) {
  std::vector<std::vector<uint8_t>> records;
  while (!input.empty()) {
    bool raw = (input.u8() & 1) != 0;
    uint16_t length = input.u16();
    records.push_back(RecordOf(raw, input.bytes(length)));
  }
  records.push_back(RecordOf(false, std::vector<uint8_t>(4, 0)));

  // Set under the pipe's lock together with the last record, so that the reader can tell the
  // read that took it.
  bool endWritten = false;
  std::thread writer([&] {
    for (size_t i = 0; i < records.size(); ++i) {
      FuzzCheck(platform::WaitForEventClear(g_pipe.hMsgRdy, kStallMs),
                "reader stopped taking records");
      FuzzCheck(platform::LockMutex(g_pipe.hLock, kStallMs), "pipe lock not released");
      if (!records[i].empty()) memcpy(g_pipe.pView, records[i].data(), records[i].size());
      endWritten = i + 1 == records.size();
      platform::SetEvent(g_pipe.hMsgRdy);
      platform::UnlockMutex(g_pipe.hLock);
    }
  });
  for (;;) {
    uint32_t length = 0;
    uint8_t* message = WGReadPipe(&g_pipe, kStallMs, &length);
    FuzzCheck(message != nullptr, "no message although records kept coming");
    // Every byte of the message must be the reader's own.
    ReadAll(message, length);
    free(message);
    FuzzCheck(platform::LockMutex(g_pipe.hLock, kStallMs), "pipe lock not released");
    bool done = endWritten && !platform::IsEventSet(g_pipe.hMsgRdy);
    platform::UnlockMutex(g_pipe.hLock);
    if (done) break;
  }
  writer.join();
}

// Takes records until the queue is empty; afterwards the queue must work as one: an appended
// record comes back as it went in.
void WalkQueue(FuzzInput& input) {
  std::vector<uint8_t> area = input.bytes(kPipeAreaSize);
  memset(g_pipe.pView, 0, kPipeAreaSize);
  if (!area.empty()) memcpy(g_pipe.pView, area.data(), area.size());
  platform::SetEvent(g_pipe.hMsgRdy);
  static const uint8_t kProbe[] = {'p', 'r', 'o', 'b', 'e'};
  WGAppendPipeRecord(&g_pipe, kProbe, sizeof kProbe);
  // Every take removes at least a header's worth of the area.
  constexpr uint32_t kMostRecords = kPipeAreaSize / kPipeRecordHeaderSize + 1;
  uint32_t taken = 0;
  for (;;) {
    uint32_t length = 0;
    uint8_t* record = WGTakePipeRecord(&g_pipe, &length);
    if (!record) break;
    FuzzCheck(length <= kPipeMaxChunk, "record longer than the area holds");
    ReadAll(record, length);
    free(record);
    FuzzCheck(++taken <= kMostRecords, "the queue never runs empty");
  }
  FuzzCheck(WGAppendPipeRecord(&g_pipe, kProbe, sizeof kProbe) == 0,
            "append refused on an empty queue");
  uint32_t length = 0;
  uint8_t* record = WGTakePipeRecord(&g_pipe, &length);
  FuzzCheck(record && length == sizeof kProbe && memcmp(record, kProbe, length) == 0,
            "an appended record did not come back");
  free(record);
  FuzzCheck(WGTakePipeRecord(&g_pipe) == nullptr, "a record after the last one");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzScratch("pipe");
  FuzzCheck(WGOpenInputMessagePipe(&g_pipe, kPipeNumber) == 0, "pipe not opened");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  bool queue = (input.u8() & 1) != 0;
  WGFlushInputPipe(&g_pipe);
  if (queue) {
    WalkQueue(input);
  } else {
    Reassemble(input);
  }
  return 0;
}

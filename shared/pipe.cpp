#include "shared/pipe.h"

#include <cstdlib>
#include <cstring>

#include "platform/time.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

namespace {

constexpr const char* kMappingBase = "WGServerMemoryObject";
constexpr const char* kEventBase = "WGServerPipeMsgRdy";
constexpr const char* kMutexBase = "WGServerPipeLockMutex";

constexpr uint32_t kWriteAttempts = 20;
constexpr uint32_t kWriteLockWaitMs = 1;
constexpr uint32_t kPollSleepMs = 50;
constexpr uint32_t kBetweenChunksBudgetMs = 1000;
constexpr uint32_t kLockWaitMs = 500;
constexpr uint32_t kReadChunkSleepMs = 10;
constexpr uint32_t kQueueEndMarkSize = 4;
// Nothing in the protocol comes near this; a first chunk that announces more is not a message
// of ours and is dropped instead of reserving its memory.
constexpr uint64_t kMaxMessageLength = 256u << 20;

void PipeTrace(const char* text, const PipeCntl* pipe, uint32_t type = TRACE_TYPE_INFO) {
  TraceValue(TRACE_WHERE_OS_PIPE, type, text, pipe->iPipeNumber);
}

void ClearHandles(PipeCntl* pipe) {
  pipe->hMapping = nullptr;
  pipe->pView = nullptr;
  pipe->hMsgRdy = nullptr;
  pipe->hLock = nullptr;
}

void CloseHandles(PipeCntl* pipe) {
  platform::CloseNamedEvent(pipe->hMsgRdy);
  platform::CloseNamedMutex(pipe->hLock);
  platform::CloseSharedArea(pipe->hMapping);
  ClearHandles(pipe);
}

void PrepareControl(PipeCntl* pipe, int32_t number, char* event, char* mutex) {
  ClearHandles(pipe);
  WGMakePipeObjectNames(pipe->szMappingName, event, mutex, number);
  pipe->iPipeNumber = number;
}

// The emptiness wait of the single-message discipline: empty as soon as the event is found
// clear, full once the budget is spent. The 50 ms sleeps end early when the reader empties the
// pipe.
bool WaitForEmptyPipe(PipeCntl* pipe, uint32_t budgetMs) {
  uint32_t start = platform::GetTickCount();
  for (;;) {
    if (!platform::IsEventSet(pipe->hMsgRdy)) return true;
    if (platform::TickBudgetSpent(start, budgetMs)) return false;
    if (platform::WaitForEventClear(pipe->hMsgRdy, kPollSleepMs)) return true;
  }
}

// The header of the record at `p` as the reader sees it; fields are copied once, so a writer
// that breaks the protocol cannot change them between the check and the copy.
struct RecordHeader {
  uint32_t size;
  uint16_t type;
  uint32_t bytesToFollow;
  uint32_t chunkLength;
};

RecordHeader LoadRecordHeader(const uint8_t* p) {
  return {LoadU32(p + kPipeRecSize), LoadU16(p + kPipeRecType), LoadU32(p + kPipeRecBytesToFollow),
          LoadU32(p + kPipeRecChunkLength)};
}

// A record that lies inside `room` bytes and whose data lies inside the record.
bool RecordFits(const RecordHeader& h, uint32_t room) {
  return h.size >= kPipeRecordHeaderSize && h.size <= room &&
         h.chunkLength <= h.size - kPipeRecordHeaderSize;
}

void StoreRecordHeader(uint8_t* p, int32_t pipeNumber, uint32_t bytesToFollow,
                       uint32_t chunkLength) {
  StoreU32(p + kPipeRecSize, chunkLength + kPipeRecordHeaderSize);
  StoreI32(p + kPipeRecPipeNumber, pipeNumber);
  StoreU16(p + kPipeRecType, kPipeRecordType);
  StoreU32(p + kPipeRecBytesToFollow, bytesToFollow);
  StoreU32(p + kPipeRecChunkLength, chunkLength);
}

}  // namespace

void WGMakePipeObjectNames(char* pszMapping, char* pszEvent, char* pszMutex, int32_t iPipeNumber) {
  static const char kDigits[] = "0123456789ABCDEF";
  char suffix[9] = {};
  int n = 0;
  for (uint32_t v = static_cast<uint32_t>(iPipeNumber); v != 0; v >>= 4) suffix[n++] = kDigits[v & 15];
  snprintf(pszMapping, kPipeNameLength, "%s%s", kMappingBase, suffix);
  snprintf(pszEvent, kPipeNameLength, "%s%s", kEventBase, suffix);
  snprintf(pszMutex, kPipeNameLength, "%s%s", kMutexBase, suffix);
}

bool WGApplyNullDACLToSystemObject(const char* pszObjectName) {
  if (platform::GrantEveryoneAccess(pszObjectName)) return true;
  TraceMsg(TRACE_WHERE_OS_PIPE, TRACE_TYPE_FATAL,
           "WGApplyNullDACLToSystemObject: SetNamedSecurityInfo() Failed for our System Object!",
           nullptr);
  return false;
}

int16_t WGOpenInputMessagePipe(PipeCntl* pPipe, int32_t iPipeNumber) {
  char event[kPipeNameLength], mutex[kPipeNameLength];
  PrepareControl(pPipe, iPipeNumber, event, mutex);

  bool existed = false;
  pPipe->hMapping = platform::CreateSharedArea(pPipe->szMappingName, kPipeAreaSize, &existed);
  bool ok = pPipe->hMapping && pPipe->hMapping->size >= kPipeAreaSize &&
            (existed || WGApplyNullDACLToSystemObject(pPipe->szMappingName));
  if (ok) {
    pPipe->pView = platform::SharedAreaView(pPipe->hMapping);
    pPipe->hMsgRdy = platform::CreateNamedEvent(event, true, false, &existed);
    ok = pPipe->hMsgRdy && (existed || WGApplyNullDACLToSystemObject(event));
  }
  if (ok) {
    pPipe->hLock = platform::CreateNamedMutex(mutex, &existed);
    ok = pPipe->hLock && (existed || WGApplyNullDACLToSystemObject(mutex));
  }
  if (!ok) {
    CloseHandles(pPipe);
    return PIPE_ERR_OPEN;
  }
  PipeTrace("WGOpenInputMessagePipe: Success for pipe ", pPipe);
  return 0;
}

int16_t WGOpenOutputMessagePipe(PipeCntl* pPipe, int32_t iPipeNumber) {
  char event[kPipeNameLength], mutex[kPipeNameLength];
  PrepareControl(pPipe, iPipeNumber, event, mutex);

  pPipe->hMapping = platform::OpenSharedArea(pPipe->szMappingName);
  bool ok = pPipe->hMapping && pPipe->hMapping->size >= kPipeAreaSize;
  if (ok) {
    pPipe->pView = platform::SharedAreaView(pPipe->hMapping);
    pPipe->hMsgRdy = platform::OpenNamedEvent(event);
    ok = pPipe->hMsgRdy != nullptr;
  }
  if (ok) {
    pPipe->hLock = platform::OpenNamedMutex(mutex);
    ok = pPipe->hLock != nullptr;
  }
  if (!ok) {
    CloseHandles(pPipe);
    return PIPE_ERR_OPEN;
  }
  PipeTrace("WGOpenOutputMessagePipe: Success for pipe ", pPipe);
  return 0;
}

int16_t WGCloseMessagePipe(PipeCntl* pPipe) {
  CloseHandles(pPipe);
  return 0;
}

int16_t WGWriteOutputPipe(PipeCntl* pPipe, const uint8_t* pRecord, uint32_t uiLength) {
  PipeTrace("WGWriteOutputPipe: Start write for pipe ", pPipe);
  if (!pPipe->pView || !pRecord || uiLength == 0 || uiLength > kPipeAreaSize) {
    PipeTrace("WGWriteOutputPipe: illegal argument for pipe ", pPipe, TRACE_TYPE_CRITICAL);
    return PIPE_ERR_WRITE;
  }
  for (uint32_t attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (platform::LockMutex(pPipe->hLock, kWriteLockWaitMs)) {
      if (!platform::IsEventSet(pPipe->hMsgRdy)) {
        PipeTrace("WGWriteOutputPipe: Lock granted for pipe ", pPipe);
        memcpy(pPipe->pView, pRecord, uiLength);
        platform::SetEvent(pPipe->hMsgRdy);
        PipeTrace("WGWriteOutputPipe: Lock released for pipe ", pPipe);
        platform::UnlockMutex(pPipe->hLock);
        return 0;
      }
      PipeTrace("WGWriteOutputPipe: Could not empty pipe for", pPipe);
      platform::UnlockMutex(pPipe->hLock);
      // The full pipe's pause is taken after letting go of the lock: the reader can empty the
      // pipe meanwhile instead of waiting for us, and the pause ends as soon as it has.
      platform::WaitForEventClear(pPipe->hMsgRdy, kPollSleepMs);
      platform::WaitForEventClear(pPipe->hMsgRdy, kPollSleepMs);
    } else if (platform::LockMutex(pPipe->hLock, kPollSleepMs)) {
      // The pause after a refused lock ends as soon as the lock is free; the next attempt
      // takes it again.
      platform::UnlockMutex(pPipe->hLock);
    }
  }
  PipeTrace("WGWriteOutputPipe: Could not lock pipe for", pPipe, TRACE_TYPE_CRITICAL);
  return PIPE_ERR_WRITE;
}

int16_t WGSendPipeMessage(PipeCntl* pPipe, const uint8_t* pMessage, uint32_t uiLength) {
  uint32_t sent = 0;
  while (sent < uiLength) {
    uint32_t chunk = uiLength - sent < kPipeMaxChunk ? uiLength - sent : kPipeMaxChunk;
    uint32_t remaining = uiLength - sent - chunk;
    auto* record = static_cast<uint8_t*>(malloc(chunk + kPipeRecordHeaderSize));
    if (!record) return WG_FUNCTION_FAILED;
    StoreRecordHeader(record, pPipe->iPipeNumber, remaining, chunk);
    memcpy(record + kPipeRecData, pMessage + sent, chunk);
    int16_t status = WGWriteOutputPipe(pPipe, record, chunk + kPipeRecordHeaderSize);
    free(record);
    if (status != 0) return WG_FUNCTION_FAILED;
    if (remaining > 0 && !WaitForEmptyPipe(pPipe, kBetweenChunksBudgetMs)) return WG_FUNCTION_FAILED;
    sent += chunk;
  }
  return 0;
}

uint8_t* WGReadPipe(PipeCntl* pPipe, uint32_t uiBudgetMs, uint32_t* puiLength) {
  if (!pPipe->pView) return nullptr;
  uint32_t start = platform::GetTickCount();
  uint8_t* message = nullptr;
  uint32_t total = 0;
  uint32_t gathered = 0;
  bool complete = false;
  while (!complete && !platform::TickBudgetSpent(start, uiBudgetMs)) {
    if (!platform::LockMutex(pPipe->hLock, kLockWaitMs)) {
      platform::SleepMs(kPollSleepMs);
      continue;
    }
    PipeTrace("WGReadPipe: Lock granted for pipe ", pPipe);
    if (platform::IsEventSet(pPipe->hMsgRdy)) {
      RecordHeader h = LoadRecordHeader(pPipe->pView);
      if (h.type == kPipeRecordType && h.size != 0) {
        PipeTrace("WGReadPipe: Message waiting for pipe ", pPipe);
        bool fits = RecordFits(h, kPipeAreaSize);
        // A chunk continues the message only if it brings exactly what the first chunk
        // announced; any other record is taken as the start of a new message.
        if (fits && message && static_cast<uint64_t>(gathered) + h.chunkLength + h.bytesToFollow != total) {
          PipeTrace("WGReadPipe: Dropped incomplete message for pipe ", pPipe, TRACE_TYPE_WARNING);
          free(message);
          message = nullptr;
        }
        if (fits && !message) {
          uint64_t announced = static_cast<uint64_t>(h.bytesToFollow) + h.chunkLength;
          message = announced <= kMaxMessageLength
                        ? static_cast<uint8_t*>(malloc(announced ? announced : 1))
                        : nullptr;
          total = static_cast<uint32_t>(announced);
          gathered = 0;
          fits = message != nullptr;
        }
        if (fits) {
          memcpy(message + gathered, pPipe->pView + kPipeRecData, h.chunkLength);
          gathered += h.chunkLength;
          complete = h.bytesToFollow == 0;
        } else {
          PipeTrace("WGReadPipe: Dropped malformed record for pipe ", pPipe, TRACE_TYPE_WARNING);
        }
      } else {
        PipeTrace("WGReadPipe: Dropped malformed record for pipe ", pPipe, TRACE_TYPE_WARNING);
      }
      platform::ResetEvent(pPipe->hMsgRdy);
    }
    PipeTrace("WGReadPipe: Unlock for pipe ", pPipe);
    platform::UnlockMutex(pPipe->hLock);
    if (!complete) platform::WaitForEvent(pPipe->hMsgRdy, kReadChunkSleepMs);
  }
  if (!complete) {
    free(message);
    return nullptr;
  }
  if (puiLength) *puiLength = total;
  return message;
}

bool WGFlushInputPipe(PipeCntl* pPipe) {
  if (!pPipe->pView || !platform::LockMutex(pPipe->hLock, kLockWaitMs)) return false;
  PipeTrace("WGFlushInputPipe: Lock granted for pipe ", pPipe);
  StoreU32(pPipe->pView + kPipeRecSize, 0);
  platform::ResetEvent(pPipe->hMsgRdy);
  platform::UnlockMutex(pPipe->hLock);
  return true;
}

uint32_t WGPipeMessageWaiting(PipeCntl* pPipe, uint16_t uiRecordType) {
  if (!pPipe->pView || !platform::IsEventSet(pPipe->hMsgRdy)) return 0;
  uint32_t size = LoadU32(pPipe->pView + kPipeRecSize);
  if (uiRecordType != 0 && LoadU16(pPipe->pView + kPipeRecType) != uiRecordType) return 0;
  return size;
}

int16_t WGAppendPipeRecord(PipeCntl* pPipe, const uint8_t* pData, uint32_t uiLength) {
  if (!pPipe->pView || (!pData && uiLength) ||
      uiLength > kPipeAreaSize - kPipeRecordHeaderSize - kQueueEndMarkSize) {
    return WG_FUNCTION_FAILED;
  }
  if (!platform::LockMutex(pPipe->hLock, kLockWaitMs)) return WG_FUNCTION_FAILED;
  uint8_t* view = pPipe->pView;
  uint32_t pos = 0;
  bool intact = true;
  for (;;) {
    if (kPipeAreaSize - pos < kQueueEndMarkSize) {
      intact = false;
      break;
    }
    uint32_t size = LoadU32(view + pos);
    if (size == 0) break;
    // A chain of sizes that leaves the area means a writer broke the queue: refuse to follow it.
    if (size < kPipeRecordHeaderSize || size > kPipeAreaSize - pos) {
      intact = false;
      break;
    }
    pos += size;
  }
  if (!intact || kPipeAreaSize - pos < uiLength + kPipeRecordHeaderSize + kQueueEndMarkSize) {
    platform::UnlockMutex(pPipe->hLock);
    return WG_FUNCTION_FAILED;
  }
  StoreRecordHeader(view + pos, pPipe->iPipeNumber, 0, uiLength);
  if (uiLength) memcpy(view + pos + kPipeRecData, pData, uiLength);
  StoreU32(view + pos + kPipeRecordHeaderSize + uiLength, 0);
  platform::SetEvent(pPipe->hMsgRdy);
  platform::UnlockMutex(pPipe->hLock);
  return 0;
}

uint8_t* WGTakePipeRecord(PipeCntl* pPipe, uint32_t* puiLength) {
  // The event is the unlocked hint that something waits; the record itself, type included, is
  // checked under the lock, so that a broken first record is found and cleared.
  if (!pPipe->pView || !platform::IsEventSet(pPipe->hMsgRdy)) return nullptr;
  if (!platform::LockMutex(pPipe->hLock, kLockWaitMs)) return nullptr;
  uint8_t* view = pPipe->pView;
  RecordHeader h = LoadRecordHeader(view);
  if (h.size == 0 || h.type != kPipeRecordType || !RecordFits(h, kPipeAreaSize)) {
    // Nothing after a broken record can be trusted; starting the queue afresh lets every
    // writer append again.
    StoreU32(view + kPipeRecSize, 0);
    platform::ResetEvent(pPipe->hMsgRdy);
    platform::UnlockMutex(pPipe->hLock);
    return nullptr;
  }
  auto* data = static_cast<uint8_t*>(malloc(h.chunkLength ? h.chunkLength : 1));
  if (!data) {
    platform::UnlockMutex(pPipe->hLock);
    return nullptr;
  }
  memcpy(data, view + kPipeRecData, h.chunkLength);
  memmove(view, view + h.size, kPipeAreaSize - h.size);
  // The vacated end is cleared: in a queue that a writer left without its end mark, a copy of
  // the last record would otherwise stay behind and be taken again forever.
  memset(view + kPipeAreaSize - h.size, 0, h.size);
  if (LoadU32(view + kPipeRecSize) == 0) platform::ResetEvent(pPipe->hMsgRdy);
  platform::UnlockMutex(pPipe->hLock);
  if (puiLength) *puiLength = h.chunkLength;
  return data;
}

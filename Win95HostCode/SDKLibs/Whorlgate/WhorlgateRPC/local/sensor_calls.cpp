// The sensor-level calls: the sensor itself, its image format, and the asynchronous
// acquisition that runs an image acquisition transaction behind a completion callback.
#include <cstddef>
#include <memory>
#include <mutex>

#include "connect/event_dispatch.h"
#include "local/sensor_status.h"
#include "platform/sync.h"
#include "shared/little_endian.h"
#include "whorlgate/wg_extended.h"
#include "whorlgate/wg_image.h"
#include "whorlgate/wg_stream.h"
#include "whorlgate/wg_transaction.h"

namespace {

constexpr const char* kAcquisitionMutexName = "DoTambixAsyncCallBackMutex";
constexpr uint32_t kAcquisitionWaitMs = 500;
constexpr uint32_t kKillWaitMs = 5000;
// Idle messages come after about 50 ms without an event; this many in all means the image is
// not coming.
constexpr uint32_t kIdleMessagesBeforeGivingUp = 8;
constexpr uint16_t kAcquireOption = 0;

// The acquisition lock is used by the application's thread and the event thread; each holds
// its own reference while it waits on or holds the lock, so closing it never pulls the handle
// from under the other thread. The last reference closes it.
std::mutex g_HandleLock;
std::shared_ptr<platform::Mutex> g_pAcquisitionMutex;

std::shared_ptr<platform::Mutex> AcquisitionMutex() {
  std::lock_guard<std::mutex> guard(g_HandleLock);
  return g_pAcquisitionMutex;
}

void SetAcquisitionMutex(std::shared_ptr<platform::Mutex> pMutex) {
  std::lock_guard<std::mutex> guard(g_HandleLock);
  g_pAcquisitionMutex = std::move(pMutex);
}

class AcquisitionLock {
 public:
  AcquisitionLock(std::shared_ptr<platform::Mutex> pMutex, uint32_t uiWaitMs)
      : pMutex_(std::move(pMutex)),
        bHeld_(pMutex_ && platform::LockMutex(pMutex_.get(), uiWaitMs)) {}
  ~AcquisitionLock() {
    if (bHeld_) platform::UnlockMutex(pMutex_.get());
  }
  AcquisitionLock(const AcquisitionLock&) = delete;
  AcquisitionLock& operator=(const AcquisitionLock&) = delete;
  bool held() const { return bHeld_; }

 private:
  std::shared_ptr<platform::Mutex> pMutex_;
  bool bHeld_;
};

// Guarded by the acquisition lock.
struct PendingAcquisition {
  uint32_t uiTransactionId = 0;
  WGSensorCallback pCallback = nullptr;
  uint8_t* pRawBuffer = nullptr;
  uint32_t uiRequestTag = 0;
  uint32_t uiIdleCount = 0;

  bool pending() const {
    return uiTransactionId != 0 || pCallback != nullptr || pRawBuffer != nullptr ||
           uiRequestTag != 0;
  }
} g_Acquisition;

void Notify(const PendingAcquisition& acquisition, WGSensorStatus uiStatus,
            uint32_t uiImageDelivered, uint32_t uiUserValue) {
  if (acquisition.pCallback != nullptr) {
    acquisition.pCallback(uiStatus, acquisition.uiRequestTag, acquisition.pRawBuffer,
                          uiImageDelivered, uiUserValue);
  }
}

// Empties the state before the application hears of the outcome.
void Finish(WGSensorStatus uiStatus, uint32_t uiImageDelivered, uint32_t uiUserValue) {
  const PendingAcquisition finished = g_Acquisition;
  g_Acquisition = {};
  Notify(finished, uiStatus, uiImageDelivered, uiUserValue);
}

// An id that is no longer current belongs to a transaction that has ended; aborting by it
// would end whatever transaction runs now.
void AbortIfCurrent(uint32_t uiTransactionId) {
  if (uiTransactionId != 0 && IsTransactionActive() && CurrentTransactionId() == uiTransactionId) {
    WGAbortTransaction(uiTransactionId);
  }
}

void EndPending() {
  AbortIfCurrent(g_Acquisition.uiTransactionId);
  g_Acquisition = {};
}

void Advance(const WGEventMessage& message, uint32_t uiUserValue) {
  switch (message.uiMessageType) {
    case WG_MSG_ACQUIRE_COMPLETE:
      Finish(
          SensorStatus(WGEndAcquireImage(g_Acquisition.uiTransactionId, g_Acquisition.pRawBuffer)),
          1, uiUserValue);
      break;
    case WG_MSG_IDLE:
      if (++g_Acquisition.uiIdleCount < kIdleMessagesBeforeGivingUp) break;
      // Given up: the server's acquisition ends too, or the transaction would block every
      // later one with nobody left to end it.
      AbortIfCurrent(g_Acquisition.uiTransactionId);
      Finish(SensorStatus(WG_OK), 0, uiUserValue);
      break;
    case WG_MSG_TIMEOUT:
      // The server gave up and the transaction is over; the application must still hear.
      Finish(SensorStatus(WG_OK), 0, uiUserValue);
      break;
    default:
      break;
  }
}

// Runs on the event thread with each event of the acquisition transaction.
void AcquisitionCallback(uint32_t uiUserValue, WGEventMessage* pMessage) {
  if (pMessage == nullptr) return;
  {
    AcquisitionLock lock(AcquisitionMutex(), kAcquisitionWaitMs);
    if (lock.held() && g_Acquisition.pending()) Advance(*pMessage, uiUserValue);
  }
  WGReleaseMessage(pMessage);
}

}  // namespace

WG_API WGSensorStatus OpenSensor(void) {
  return SensorStatus(WG_OK);
}

WG_API WGSensorStatus CloseSensor(void) {
  std::shared_ptr<platform::Mutex> pMutex = AcquisitionMutex();
  AcquisitionLock lock(pMutex, kAcquisitionWaitMs);
  if (lock.held()) {
    // A pending acquisition ends with the lock that guards it.
    EndPending();
    SetAcquisitionMutex(nullptr);
  }
  return SensorStatus(WG_OK);
}

WG_API uint32_t GetImageFormatSize(void) {
  return WG_BITMAP_HEADER_SIZE;
}

WG_API WGSensorStatus GetImageFormat([[maybe_unused]] uint32_t uiUnused, uint8_t* pFormat) {
  if (pFormat == nullptr) return SensorStatus(WG_BAD_POINTER);
  WGBuildOSBmpHeader(0, pFormat);
  // The raw buffer's rows as a bottom-up bitmap would hold them.
  StoreI32(pFormat + offsetof(WGBitmapInfoHeader, iHeight), WG_IMAGE_SIDE);
  return SensorStatus(WG_OK);
}

WG_API WGSensorStatus AsyncAcquireDataFromSensor(uint32_t uiRequestTag, uint8_t* pRawBuffer,
                                                 WGSensorCallback pCallback, uint32_t uiUserValue) {
  std::shared_ptr<platform::Mutex> pMutex = AcquisitionMutex();
  if (!pMutex) {
    bool bExisted = false;
    platform::Mutex* pCreated = platform::CreateNamedMutex(kAcquisitionMutexName, &bExisted);
    if (pCreated == nullptr) return SensorStatus(WG_SENSOR_BUSY);
    pMutex = std::shared_ptr<platform::Mutex>(pCreated, platform::CloseNamedMutex);
    SetAcquisitionMutex(pMutex);
    // Another process of the kit acquires as well: this once, the sensor counts as busy.
    if (bExisted) return SensorStatus(WG_SENSOR_BUSY);
  }
  AcquisitionLock lock(pMutex, kAcquisitionWaitMs);
  if (!lock.held() || g_Acquisition.pending()) return SensorStatus(WG_SENSOR_BUSY);
  WGImageState state{0, 0};
  if (WhorlgateGetImageState(0, &state) != WG_OK) return SensorStatus(WG_SENSOR_BUSY);
  g_Acquisition = {0, pCallback, pRawBuffer, uiRequestTag, 0};
  if ((state.iState & WG_IMAGE_STATE_FINGER_PRESENT) == 0) {
    Finish(SensorStatus(WG_OK), 0, uiUserValue);
    return SensorStatus(WG_OK);
  }
  const uint32_t uiTransactionId =
      WGBeginAcquireImage(AcquisitionCallback, uiUserValue, kAcquireOption, nullptr);
  if (uiTransactionId == 0) {
    g_Acquisition = {};
    return SensorStatus(WG_SENSOR_BUSY);
  }
  g_Acquisition.uiTransactionId = uiTransactionId;
  return SensorStatus(WG_OK);
}

WG_API WGSensorStatus KillAsyncSensorIO(void) {
  std::shared_ptr<platform::Mutex> pMutex = AcquisitionMutex();
  if (!pMutex) return SensorStatus(WG_OK);
  AcquisitionLock lock(pMutex, kKillWaitMs);
  if (!lock.held()) return SensorStatus(WG_SENSOR_BUSY);
  EndPending();
  return SensorStatus(WG_OK);
}

WG_API WGSensorStatus AcquireDataFromSensor(void) {
  return SensorStatus(WG_NOT_SUPPORTED);
}

WG_API void SetRecognitionLevel([[maybe_unused]] uint32_t uiLevel) {}

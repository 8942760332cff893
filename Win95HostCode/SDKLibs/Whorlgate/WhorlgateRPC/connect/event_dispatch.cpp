#include "connect/event_dispatch.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "connect/api_exchange.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "shared/trace.h"

namespace {

constexpr const char* kShutDownSignal = "EventThreadShutDownSignal";
constexpr uint32_t kIdleSleepMs = 200;
constexpr uint32_t kEventPollMs = 50;
constexpr uint32_t kStopWaitMs = 2000;

struct Registration {
  std::mutex lock;
  WGTransactionCallback callback = nullptr;
  uint32_t userValue = 0;
  bool active = false;
  uint32_t counter = 0;
} g_Registration;

std::atomic<bool> g_bRun{false};
std::atomic<bool> g_bThreadEnded{false};
std::thread g_EventThread;

void Info(const char* text) { TraceMsg(TRACE_WHERE_RPC_DLL, TRACE_TYPE_INFO, text, nullptr); }

void Deliver(WGTransactionCallback callback, uint32_t userValue, WGEventMessage* message) {
  if (callback) {
    callback(userValue, message);
  } else {
    WGReleaseMessage(message);
  }
}

void EventThreadMain() {
  while (g_bRun.load()) {
    if (!IsCallbackMode()) {
      platform::SleepMs(kIdleSleepMs);
      continue;
    }
    WGTransactionCallback callback = nullptr;
    uint32_t userValue = 0;
    WGEventMessage* event = WGRpcUtilGetEventMsg();
    if (event) {
      Info("WGRPC: Event thread got message, invoking user callback.");
      GetEventRegistration(&callback, &userValue);
      // The server has given up: the transaction is over before the application hears of it.
      if (event->uiMessageType == WG_MSG_TIMEOUT) ClearEventRegistration();
      Deliver(callback, userValue, event);
      continue;
    }
    // The pause between polls ends as soon as something arrives, so an event reaches the
    // callback without waiting out the period; only a quiet period gives an idle message.
    if (WGRpcUtilAwaitClientPipe(kEventPollMs)) continue;
    GetEventRegistration(&callback, &userValue);
    if (!callback) continue;
    auto* idle = static_cast<WGEventMessage*>(calloc(1, sizeof(WGEventMessage)));
    if (!idle) continue;
    idle->uiMessageType = WG_MSG_IDLE;
    callback(userValue, idle);
  }
  g_bThreadEnded.store(true);
  platform::Event* done = platform::OpenNamedEvent(kShutDownSignal);
  if (done) {
    platform::SetEvent(done);
    platform::CloseNamedEvent(done);
  }
}

}  // namespace

uint32_t SetEventRegistration(WGTransactionCallback pCallback, uint32_t uiUserValue, bool bActive,
                              bool bNewTransaction) {
  std::lock_guard<std::mutex> guard(g_Registration.lock);
  g_Registration.callback = pCallback;
  g_Registration.userValue = uiUserValue;
  g_Registration.active = bActive;
  if (bNewTransaction) ++g_Registration.counter;
  return g_Registration.counter;
}

void GetEventRegistration(WGTransactionCallback* ppCallback, uint32_t* puiUserValue) {
  std::lock_guard<std::mutex> guard(g_Registration.lock);
  *ppCallback = g_Registration.callback;
  *puiUserValue = g_Registration.userValue;
}

void ClearEventRegistration() { SetEventRegistration(nullptr, 0, false, false); }

uint32_t CurrentTransactionId() {
  std::lock_guard<std::mutex> guard(g_Registration.lock);
  return g_Registration.active ? g_Registration.counter : 0;
}

bool IsTransactionActive() {
  std::lock_guard<std::mutex> guard(g_Registration.lock);
  return g_Registration.active;
}

bool IsCallbackMode() {
  std::lock_guard<std::mutex> guard(g_Registration.lock);
  return g_Registration.active && g_Registration.callback != nullptr;
}

void StartEventThread() {
  if (g_EventThread.joinable()) return;
  Info("WGRPC: Starting event dispatch thread.");
  g_bRun.store(true);
  g_bThreadEnded.store(false);
  g_EventThread = std::thread(EventThreadMain);
}

void StopEventThread() {
  if (!g_EventThread.joinable()) return;
  Info("WGRPC: Terminating event dispatch thread.");
  platform::Event* done = platform::CreateNamedEvent(kShutDownSignal, true, false, nullptr);
  g_bRun.store(false);
  // The named signal wakes us as soon as a dispatch thread ends; the flag says whether it was
  // ours (another process of the kit may be stopping its own at the same moment).
  uint32_t start = platform::GetTickCount();
  while (!g_bThreadEnded.load() && !platform::TickBudgetSpent(start, kStopWaitMs)) {
    if (done) {
      platform::WaitForEvent(done, 20);
    } else {
      platform::SleepMs(20);
    }
  }
  if (g_bThreadEnded.load()) {
    g_EventThread.join();
  } else {
    Info("WGRPC: The Event Thread Could Not Be Shut Down.");
    g_EventThread.detach();
  }
  platform::CloseNamedEvent(done);
}

#include "platform/sync.h"

#include <errno.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>

namespace platform {

namespace {

struct EventParameters {
  bool manualReset;
  bool initiallySet;
};

void InitialiseEvent(ObjectHeader* header, const void* context) {
  auto* params = static_cast<const EventParameters*>(context);
  header->eventManualReset = params->manualReset ? 1 : 0;
  header->eventState = params->initiallySet ? 1 : 0;
}

void InitialiseMutex(ObjectHeader* header, const void*) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&header->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

int64_t MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// The state word is shared by processes that map the same file, so the futex calls must not
// be the process-private kind.
void FutexWakeAll(uint32_t* word) {
  syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

// Sleeps while *word == expected, until `deadlineNs` (monotonic). False once the deadline passed.
bool FutexWaitUntil(uint32_t* word, uint32_t expected, int64_t deadlineNs) {
  int64_t left = deadlineNs - MonotonicNs();
  if (left <= 0) return false;
  timespec rel{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
  syscall(SYS_futex, word, FUTEX_WAIT, expected, &rel, nullptr, 0);
  return true;
}

int64_t DeadlineAfter(uint32_t ms) {
  return ms == kWaitForever ? INT64_MAX : MonotonicNs() + static_cast<int64_t>(ms) * 1000000LL;
}

// Waits until the event's state is `wanted`; `consume` clears a set state atomically (the
// waiter of an auto-reset event takes the signal).
bool WaitForState(Event* event, uint32_t wanted, bool consume, uint32_t ms) {
  uint32_t* word = &event->header()->eventState;
  int64_t deadline = DeadlineAfter(ms);
  for (;;) {
    uint32_t state = __atomic_load_n(word, __ATOMIC_ACQUIRE);
    if (state == wanted) {
      if (!consume) return true;
      if (__atomic_compare_exchange_n(word, &state, 0, false, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
        FutexWakeAll(word);
        return true;
      }
      continue;
    }
    if (!FutexWaitUntil(word, state, deadline)) return false;
  }
}

}  // namespace

Event* CreateNamedEvent(const char* name, bool manualReset, bool initiallySet, bool* pExisted) {
  auto* event = new Event;
  EventParameters params{manualReset, initiallySet};
  if (!AcquireNamedObject(name, ObjectKind::kEvent, Disposition::kCreateOrOpen, 0,
                          InitialiseEvent, &params, event, pExisted)) {
    delete event;
    return nullptr;
  }
  return event;
}

Event* OpenNamedEvent(const char* name) {
  auto* event = new Event;
  if (!AcquireNamedObject(name, ObjectKind::kEvent, Disposition::kOpenExisting, 0, nullptr,
                          nullptr, event, nullptr)) {
    delete event;
    return nullptr;
  }
  return event;
}

void CloseNamedEvent(Event* event) {
  if (!event) return;
  ReleaseNamedObject(event);
  delete event;
}

void SetEvent(Event* event) {
  uint32_t* word = &event->header()->eventState;
  if (__atomic_exchange_n(word, 1, __ATOMIC_ACQ_REL) == 0) FutexWakeAll(word);
}

void ResetEvent(Event* event) {
  uint32_t* word = &event->header()->eventState;
  if (__atomic_exchange_n(word, 0, __ATOMIC_ACQ_REL) != 0) FutexWakeAll(word);
}

bool IsEventSet(const Event* event) {
  return __atomic_load_n(&event->header()->eventState, __ATOMIC_ACQUIRE) != 0;
}

bool WaitForEvent(Event* event, uint32_t ms) {
  bool autoReset = __atomic_load_n(&event->header()->eventManualReset, __ATOMIC_RELAXED) == 0;
  return WaitForState(event, 1, autoReset, ms);
}

bool WaitForEventClear(Event* event, uint32_t ms) { return WaitForState(event, 0, false, ms); }

Mutex* CreateNamedMutex(const char* name, bool* pExisted) {
  auto* mutex = new Mutex;
  if (!AcquireNamedObject(name, ObjectKind::kMutex, Disposition::kCreateOrOpen, 0,
                          InitialiseMutex, nullptr, mutex, pExisted)) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}

Mutex* OpenNamedMutex(const char* name) {
  auto* mutex = new Mutex;
  if (!AcquireNamedObject(name, ObjectKind::kMutex, Disposition::kOpenExisting, 0, nullptr,
                          nullptr, mutex, nullptr)) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}

void CloseNamedMutex(Mutex* mutex) {
  if (!mutex) return;
  ReleaseNamedObject(mutex);
  delete mutex;
}

bool LockMutex(Mutex* mutex, uint32_t ms) {
  pthread_mutex_t* m = &mutex->header()->mutex;
  int rc;
  if (ms == kWaitForever) {
    rc = pthread_mutex_lock(m);
  } else {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline);
  }
  if (rc == EOWNERDEAD) {
    // The owner died holding it: the next waiter takes it over, as with an abandoned mutex.
    pthread_mutex_consistent(m);
    return true;
  }
  return rc == 0;
}

void UnlockMutex(Mutex* mutex) { pthread_mutex_unlock(&mutex->header()->mutex); }

}  // namespace platform

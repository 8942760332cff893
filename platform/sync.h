// Named events and mutexes shared between processes, with the semantics the kit's protocols
// were designed around: manual- and auto-reset events, recursive mutexes that pass to the next
// waiter when their owner dies.
#pragma once

#include <cstdint>

#include "platform/named_object.h"

namespace platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

struct Event : NamedObject {};
struct Mutex : NamedObject {};

// Creates the event or opens the live one of that name; the reset mode and initial state
// apply only when it is created. Null on failure.
Event* CreateNamedEvent(const char* name, bool manualReset, bool initiallySet, bool* pExisted);
Event* OpenNamedEvent(const char* name);
void CloseNamedEvent(Event* event);

void SetEvent(Event* event);
void ResetEvent(Event* event);
bool IsEventSet(const Event* event);
// Waits until the event is set, at most `ms` milliseconds; an auto-reset event is cleared by
// the waiter that sees it set.
bool WaitForEvent(Event* event, uint32_t ms);
// Waits until the event is clear, at most `ms` milliseconds.
bool WaitForEventClear(Event* event, uint32_t ms);

Mutex* CreateNamedMutex(const char* name, bool* pExisted);
Mutex* OpenNamedMutex(const char* name);
void CloseNamedMutex(Mutex* mutex);

// Acquires the mutex within `ms` milliseconds (recursively for its owner thread). A mutex
// whose owner died is acquired as well.
bool LockMutex(Mutex* mutex, uint32_t ms);
void UnlockMutex(Mutex* mutex);

}  // namespace platform

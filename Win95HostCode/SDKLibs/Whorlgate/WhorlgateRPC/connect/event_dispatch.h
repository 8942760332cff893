// The transaction registration and the event dispatch thread that hands a callback
// transaction's events to the application.
#pragma once

#include <cstdint>

#include "whorlgate/wg_transaction.h"

// Stores callback, user value and active flag together; `bNewTransaction` moves the counter on.
// Returns the counter as this call left it: with `bNewTransaction`, the new transaction's id
// (read under the same lock, so that an event ending the transaction at once cannot hide it).
uint32_t SetEventRegistration(WGTransactionCallback pCallback, uint32_t uiUserValue, bool bActive,
                          bool bNewTransaction);
void GetEventRegistration(WGTransactionCallback* ppCallback, uint32_t* puiUserValue);
// Ends the current transaction: no callback, user value 0, not active; the counter stays.
void ClearEventRegistration();
uint32_t CurrentTransactionId();
bool IsTransactionActive();
bool IsCallbackMode();

void StartEventThread();
void StopEventThread();

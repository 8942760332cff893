// The requests that need the sensor: the blocking capture calls, the transactions and the image
// acquisition with their Begin and End, the abort, and the image stream and image state.
#pragma once

#include "server/dispatch.h"

// A user record whose texts run out of their fields; a record that does not open.
const char* CheckBeginEnroll(const Request& request);
const char* CheckBeginValidateId(const Request& request);
const char* CheckBeginAcquire(const Request& request);

void ServeEnroll(ServerState& state, const Request& request, Session* session);
void ServeValidateId(ServerState& state, const Request& request, Session* session);
void ServeValidateFingers(ServerState& state, const Request& request, Session* session);
void ServeIdentify(ServerState& state, const Request& request, Session* session);

void ServeBeginEnroll(ServerState& state, const Request& request, Session* session);
void ServeEndEnroll(ServerState& state, const Request& request, Session* session);
void ServeBeginValidateId(ServerState& state, const Request& request, Session* session);
void ServeEndValidateId(ServerState& state, const Request& request, Session* session);
void ServeBeginIdentify(ServerState& state, const Request& request, Session* session);
void ServeEndIdentify(ServerState& state, const Request& request, Session* session);
void ServeBeginVerify(ServerState& state, const Request& request, Session* session);
void ServeEndVerify(ServerState& state, const Request& request, Session* session);
void ServeBeginAcquire(ServerState& state, const Request& request, Session* session);
void ServeEndAcquire(ServerState& state, const Request& request, Session* session);
void ServeAbortTransaction(ServerState& state, const Request& request, Session* session);

void ServeOpenStream(ServerState& state, const Request& request, Session* session);
void ServeCloseStream(ServerState& state, const Request& request, Session* session);
void ServeCurrentImage(ServerState& state, const Request& request, Session* session);
void ServeImageState(ServerState& state, const Request& request, Session* session);

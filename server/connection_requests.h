// The requests of the connection itself: connect, disconnect and the template size query.
#pragma once

#include "server/dispatch.h"

// A connect whose pipe number is not the client's process ID: the reply would go to a pipe
// that is not the sender's.
const char* CheckConnectPipeNumber(const Request& request);

void ServeConnect(ServerState& state, const Request& request, Session* session);
void ServeDisconnect(ServerState& state, const Request& request, Session* session);
void ServeTemplateSize(ServerState& state, const Request& request, Session* session);

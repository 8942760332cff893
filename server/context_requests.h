// The requests of a client's own state in the server: its contexts and the details of its last
// result.
#pragma once

#include "server/dispatch.h"

// What a request naming a context the client does not hold is answered.
inline constexpr Outcome kNoSuchContext = {
    WG_FUNCTION_FAILED, kDetailRefused,
    "The context handle is not one of this client's open contexts."};

// An application data block whose length runs past the message.
const char* CheckInit(const Request& request);

void ServeInit(ServerState& state, const Request& request, Session* session);
void ServeClose(ServerState& state, const Request& request, Session* session);
void ServeResultDetails(ServerState& state, const Request& request, Session* session);

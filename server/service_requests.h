// The service channel (the settings by identifier, enciphered both ways), the LEDs and the
// version texts.
#pragma once

#include "server/dispatch.h"

void ServeServiceRequest(ServerState& state, const Request& request, Session* session);
void ServeGetLeds(ServerState& state, const Request& request, Session* session);
void ServeSetLeds(ServerState& state, const Request& request, Session* session);
void ServeVersion(ServerState& state, const Request& request, Session* session);

// The two version texts, made once from the server's own version ("4, 1, 0, 1").
void MakeVersionTexts(ServerState& state, const char* moduleVersion);

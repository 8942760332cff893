// The client library's link to WGServer: finding or starting the server, the two pipes and
// the connect handshake, made by the first call that needs the server.
#pragma once

#include "shared/pipe.h"

// The connection exists exactly while both pipe controls exist.
extern PipeCntl* m_pInputPipeCntl;   // this process's client pipe (number = process ID)
extern PipeCntl* m_pOutputPipeCntl;  // the server pipe (number 0)

// True while the server's presence object or its running signal exists.
bool IsServerPresent();
// True when the server is present or its program could be started. The program's path comes
// from the local machine registry (Software\Kestrelon\Setup, "WGServer"), defaulting to
// WGServer in the kit's program folder.
bool LaunchServerProcess();
// Makes sure the connection is established; runs before every API message.
bool InitPipeCommunications();
// Says goodbye to the server when connected and closes both pipes.
void DisconnectFromServer();

// Where the library was loaded from (an address inside it), for the program folder and the
// version text.
void SetLibraryModule(const void* pModuleAddress);
const void* LibraryModule();

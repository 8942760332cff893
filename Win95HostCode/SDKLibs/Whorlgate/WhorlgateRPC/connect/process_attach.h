// What the library does when a process loads and unloads it. The shared library runs these
// from its constructor and destructor; tests call them directly around a scripted server.
#pragma once

// Clears the client error record, starts the event thread, finds or starts the server and
// waits for its waiting signal, then starts tracing. False refuses the load, with the cause in
// *ppszCause.
bool WGRpcProcessAttach(const void* pModuleAddress, const char** ppszCause);
// Says goodbye to the server when connected, closes the pipes and stops the event thread.
void WGRpcProcessDetach();

// The server's life: announce itself, serve requests until asked to stop, withdraw.
#pragma once

#include <csignal>

// Runs the server until `stopRequested` becomes non-zero (set from a signal handler). Returns
// the process's exit status: 0 after a clean stop, 1 when the server could not start (the
// cause is on standard error).
int RunServer(const volatile sig_atomic_t& stopRequested);

// The viewer without a display: the same records, filters and lines, on standard output.
#pragma once

#include <cstdint>
#include <optional>

struct ConsoleOptions {
  // Override the registry's filters for this run only.
  std::optional<uint32_t> where;
  std::optional<uint32_t> type;
};

// Prints the lines until SIGINT or SIGTERM; the exit status.
int RunConsole(const ConsoleOptions& options);

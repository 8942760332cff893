// Processes and modules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

uint32_t CurrentProcessId();

// Starts `program` detached from the caller: its own session, its own folder as working
// folder, no inherited descriptors (standard streams on /dev/null), never a zombie of the
// caller. True when the program was executed.
bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& args);

// Holds on to a running process (not to its number, which a new process may take over after
// the watched one ended) and tells whether it still runs.
class ProcessWatch {
 public:
  ProcessWatch() = default;
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;
  ~ProcessWatch();

  // Starts watching process `processId`; false when no such process runs.
  bool watch(uint32_t processId);
  // True while the watched process runs; a process that ended and waits as a zombie for its
  // parent has ended.
  bool alive() const;

 private:
  int pidfd_ = -1;
};

// File of the module (shared library or program) that holds `address`; the main program for
// a null address. Empty when unknown.
std::string ModuleFilePath(const void* address);

// The folder of the kit's programs: the bin folder beside the lib folder that holds the module
// at `addressInLibrary`.
std::string ProgramDirectory(const void* addressInLibrary);

}  // namespace platform

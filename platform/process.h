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

// File of the module (shared library or program) that holds `address`; the main program for
// a null address. Empty when unknown.
std::string ModuleFilePath(const void* address);

// The folder of the kit's programs: the bin folder beside the lib folder that holds the module
// at `addressInLibrary`.
std::string ProgramDirectory(const void* addressInLibrary);

}  // namespace platform

// The two registry stores of the kit (local machine and current user), each one text file in
// the REGEDIT4 export format so that people can read and edit them.
//
//   local machine: $WHORLGATE_MACHINE_REGISTRY, default /var/lib/whorlgate/machine.reg
//   current user:  $WHORLGATE_USER_REGISTRY, default ${XDG_CONFIG_HOME:-$HOME/.config}/whorlgate/user.reg
//
// Key paths ("Software\Kestrelon\Setup") and value names compare without regard to case. Every
// change is one locked read-modify-write that replaces the file atomically, so concurrent
// writers never lose each other's values and a reader never sees a torn file. A missing or
// partly malformed file is read as far as it makes sense; lines of other value types and lines
// it cannot read stay as they are when the file is rewritten. Empty key path components are
// ignored. Key paths, names and texts with a line break or NUL cannot be stored: the setters
// refuse them (false).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class RegistryHive {
  kLocalMachine,  // HKEY_LOCAL_MACHINE
  kCurrentUser,   // HKEY_CURRENT_USER
};

std::string RegistryStorePath(RegistryHive hive);

bool RegistryQueryNumber(RegistryHive hive, const std::string& key, const std::string& name,
                         uint32_t* value);
bool RegistryQueryText(RegistryHive hive, const std::string& key, const std::string& name,
                       std::string* value);
bool RegistrySetNumber(RegistryHive hive, const std::string& key, const std::string& name,
                       uint32_t value);
bool RegistrySetText(RegistryHive hive, const std::string& key, const std::string& name,
                     const std::string& value);

// Reads the value; when it is missing (or of another type) stores `fallback` under the key,
// creating the key, and returns it. One locked step.
uint32_t RegistryReadNumberOrStore(RegistryHive hive, const std::string& key,
                                   const std::string& name, uint32_t fallback);
std::string RegistryReadTextOrStore(RegistryHive hive, const std::string& key,
                                    const std::string& name, const std::string& fallback);

}  // namespace platform

// Version resources of the kit's modules. Each module (the client library, every program)
// carries a small table of version strings in an ELF section of its own file, and the table is
// read back from the file, as the original system reads a module's version resource.
//
// The section ".wgversion" holds NUL-terminated strings in pairs: a query path such as
// "\StringFileInfo\040904b0\FileVersion", then its value. The pairs end with an empty string.
#pragma once

#include <string>

namespace platform {

// Declares the version resource of the module that compiles it; use once per module.
#define WG_MODULE_VERSION_RESOURCE(fileVersion, fileDescription)                              \
  extern "C" __attribute__((section(".wgversion"), used, visibility("hidden")))               \
  const char wg_module_version_resource[] =                                                    \
      "\\StringFileInfo\\040904b0\\FileVersion\0" fileVersion                                  \
      "\0\\StringFileInfo\\040904b0\\FileDescription\0" fileDescription "\0"

// Looks `query` up in the version resource of the module file `path`; false when the file has
// no resource or no such entry.
bool ReadModuleVersionValue(const std::string& path, const std::string& query, std::string* value);

}  // namespace platform

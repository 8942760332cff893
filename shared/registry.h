// Registry access with defaults, and module version texts, shared by the client library and
// the trace viewer.
#pragma once

#include <cstdint>

#include "platform/registry_store.h"

inline constexpr int kRegistryPrefixLength = 1024;
inline constexpr int kRegistryTextLength = 260;
inline constexpr int kModuleVersionTextLength = 260;

struct RegistryRoot {
  platform::RegistryHive hRootKey;
  char szPrefix[kRegistryPrefixLength];  // "Software\Kestrelon\" and the like
};

RegistryRoot MakeRegistryRoot(platform::RegistryHive hRootKey, const char* pszPrefix);

// Read a value of the key prefix + subkey; a missing one is stored with the default first.
// No failure is reported: the default is the answer.
uint32_t RegReadNumber(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                       uint32_t uiDefault);
void RegWriteNumber(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                    uint32_t uiValue);
// Copies the text (at most 259 characters and a zero) into pszOutput.
void RegReadText(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                 const char* pszDefault, char* pszOutput);
void RegWriteText(const RegistryRoot* pRoot, const char* pszSubkey, const char* pszName,
                  const char* pszText);

// The "FileVersion" text of the module that holds `pModuleAddress` (the main program when
// null), or "Unknown". pszOutput holds kModuleVersionTextLength characters.
void GetModuleVersionText(const void* pModuleAddress, char* pszOutput);

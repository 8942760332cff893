// The server's tunable parameters by name: the fixed table of their identifiers, kinds and
// sizes, and reading or writing one of them through the service channel. The values live in
// the server; the library keeps no copy.
#pragma once

#include <cstdint>

inline constexpr int kSettingNameField = 252;  // up to 251 characters and a zero

// Kind 0 ends the table; 1 and 2 are numbers, 3 an on/off switch, all read and written as
// numbers. Only a byte string is handled differently: its bytes travel as they are.
inline constexpr uint8_t kSettingEnd = 0;
inline constexpr uint8_t kSettingByteString = 4;

struct SettingEntry {
  char szName[kSettingNameField];
  uint8_t ucKind;
  uint8_t ucSize;         // in bytes: 1, 2 or 4, or 5 for the one byte string
  uint16_t uiIdentifier;  // in the server's parameter space
};
static_assert(sizeof(SettingEntry) == 256);

inline constexpr int kSettingCount = 178;

// The whole table: kSettingCount entries, then one of kind kSettingEnd.
const SettingEntry* AllSettings();
// The entry named `pszName`, compared without regard to case (the first match), or null.
const SettingEntry* FindSetting(const char* pszName);

// The flag picks the one or the other command of a get or set pair; the server gives the two
// their meaning. Each operation makes two service exchanges and must not overlap other calls.

// Reads the setting into `pOutput`: a uint32_t for numbers (1 and 2 bytes widened without
// sign), the entry's size in bytes for the byte string. False for an unknown name (nothing
// sent) or a failed exchange.
bool GetSetting(const char* pszName, bool bFlag, void* pOutput);
// As GetSetting; *pbOutput is whether the value is not zero.
bool GetSettingBool(const char* pszName, bool bFlag, bool* pbOutput);
// Writes the value at `pValue`, which has the entry's size: a uint8_t, uint16_t or uint32_t
// for numbers, the bytes for the byte string. True when the server accepted it.
bool SetSetting(const char* pszName, bool bFlag, const void* pValue);

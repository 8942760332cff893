#include "connect/settings_table.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "connect/service_block.h"
#include "shared/little_endian.h"

namespace {

struct SettingRow {
  const char* pszName;
  uint8_t ucKind;
  uint8_t ucSize;
  uint16_t uiIdentifier;
};

// The tables keep the columns they are read by.
// clang-format off
// The server's gain-control loops, in table order. Each has the nine fields below.
constexpr const char* kGainControlLoops[] = {
    "sIBiasGCL",           "sZSizeVertGCL",       "sZSizeHorzGCL",
    "sZMatEnablGCL",       "sExciteFreqGCL",      "sExciteIBiasGCL",
    "sExciteDemodSyncGCL", "sExciteDrvVBoostGCL", "sExciteDrvVMeasureGCL",
    "sAnalogGain1GCL",     "sAnalogGain2GCL",     "sAnalogIBiasGCL",
    "sAnalogOffsetGCL",    "sAtoDRefHiGCL",       "sAtoDRefLowGCL",
};

// A loop's fields, named "<loop> <field>". The server addresses a field by the same
// identifier in every loop.
constexpr SettingRow kLoopFields[] = {
    // field                kind size identifier
    {"iControlBits",        2,   1,   0},
    {"iLoopGain",           1,   2,   1},
    {"iDeadBand",           2,   1,   3},
    {"iDelta",              1,   1,   4},
    {"iLocalSetPoint",      1,   1,   5},
    {"iCascadeSetPoint",    1,   1,   6},
    {"iRegisterOffset",     1,   1,   7},
    {"iRegisterBitMask",    1,   1,   8},
    {"iBitFieldOffset",     1,   1,   9},
};

// The settings after the loops, in table order.
constexpr SettingRow kOtherSettings[] = {
    // name                    kind size identifier
    {"ForceAFCS1Format",        2,   1,   370},
    {"UserComAdjust",           2,   1,   414},
    {"HWBaudMultiply",          2,   1,   403},
    {"Comm port name",          4,   5,   404},
    {"SensorDutyCycle",         2,   1,   409},
    {"Startup baud rate",       2,   4,   410},
    {"AutoCalEnable",           3,   1,   415},
    {"PassBadImages",           3,   1,   416},
    {"MaxBadRFBlockPercent",    2,   1,   417},
    {"BarRemoval",              3,   1,   418},
    {"CorMtchSR",               2,   4,   419},
    {"CorMtchSA",               2,   4,   423},
    {"MinDampArea",             2,   1,   427},
    {"MaxDampArea",             2,   1,   428},
    {"ImageAveragingon",        3,   1,   429},
    {"AverageImagePercent",     2,   4,   430},
    {"SameThresholdPercent",    2,   4,   434},
    {"SameCompareBits",         2,   2,   438},
    {"MinMoistureAGC",          2,   2,   440},
    {"ChipDebugMode",           3,   1,   442},
    {"SavePerformanceData",     3,   1,   443},
    {"FreqExtendedEnroll",      3,   1,   444},
    {"DumpAGCData",             3,   1,   445},
    {"MinAcceptConfidence",     2,   4,   446},
    {"MinRejectConfidence",     2,   4,   450},
    {"CurrentWhereFilter",      2,   4,   454},
    {"CurrentTypeFilter",       2,   4,   458},
    {"CorMtchNA",               2,   4,   462},
    {"CorMtchEnrollQ",          2,   4,   466},
    {"CorMtchEnrollC",          2,   4,   470},
    {"StableMatch",             2,   4,   474},
    {"StableEnroll",            2,   4,   478},
    {"EnrollPhaseLimit",        2,   1,   482},
    {"DampContrastBinMax",      2,   1,   483},
    {"MaxDampBlockLimit",       2,   1,   484},
    {"Rotation",                2,   2,   485},
    {"UseBrandedBitmap",        3,   1,   487},
    {"FKeyEnabled",             3,   1,   489},
    {"FKeyControl",             3,   1,   490},
    {"FKeyShift",               3,   1,   491},
    {"FKeyALT",                 3,   1,   492},
    {"FKeyNumber",              2,   2,   493},
    {"Sensor Type",             2,   4,   495},
};
// clang-format on

static_assert(std::size(kGainControlLoops) * std::size(kLoopFields) + std::size(kOtherSettings) ==
              kSettingCount);

constexpr size_t Append(char* pszDest, size_t uiAt, const char* pszText) {
  while (*pszText) pszDest[uiAt++] = *pszText++;
  return uiAt;
}

constexpr SettingEntry Entry(const char* pszLoop, const SettingRow& row) {
  SettingEntry entry{};
  size_t length = 0;
  if (pszLoop) length = Append(entry.szName, Append(entry.szName, 0, pszLoop), " ");
  Append(entry.szName, length, row.pszName);
  entry.ucKind = row.ucKind;
  entry.ucSize = row.ucSize;
  entry.uiIdentifier = row.uiIdentifier;
  return entry;
}

using SettingsTable = std::array<SettingEntry, kSettingCount + 1>;

constexpr SettingsTable BuildTable() {
  SettingsTable table{};
  size_t n = 0;
  for (const char* pszLoop : kGainControlLoops) {
    for (const SettingRow& field : kLoopFields) table[n++] = Entry(pszLoop, field);
  }
  for (const SettingRow& row : kOtherSettings) table[n++] = Entry(nullptr, row);
  return table;  // the entry behind the last stays all zero: kind 0 ends the table
}

constexpr SettingsTable kSettings = BuildTable();

// A name longer than its field does not compile; one that fills it would lose its zero.
constexpr bool NamesEndInTheirField() {
  return std::all_of(kSettings.begin(), kSettings.end(), [](const SettingEntry& entry) {
    return entry.szName[kSettingNameField - 1] == '\0';
  });
}
static_assert(NamesEndInTheirField());

constexpr uint8_t LargestSize() {
  uint8_t largest = 0;
  for (const SettingEntry& entry : kSettings) largest = std::max(largest, entry.ucSize);
  return largest;
}
// Every value lies between the block's size field and its check byte.
static_assert(kServiceBlockValue + LargestSize() <= kServiceBlockCheck);

// Room for any value as GetSetting writes it: a 32-bit number or the byte string.
constexpr size_t kValueRoom = std::max<size_t>(sizeof(uint32_t), LargestSize());

// The block of a main request: the preparatory answer as it came back, addressed to the entry.
void Address(WGServiceBlock* pBlock, const SettingEntry& entry, ServiceCommand command) {
  pBlock->aucBlock[kServiceBlockCommand] = command;
  StoreU16(pBlock->aucBlock + kServiceBlockIdentifier, entry.uiIdentifier);
  StoreU16(pBlock->aucBlock + kServiceBlockSize, entry.ucSize);
}

bool ReadValue(const SettingEntry& entry, const uint8_t* pField, void* pOutput) {
  if (entry.ucKind == kSettingByteString) {
    memcpy(pOutput, pField, entry.ucSize);
    return true;
  }
  uint32_t value = 0;
  switch (entry.ucSize) {
    case 1:
      value = pField[0];
      break;
    case 2:
      value = LoadU16(pField);
      break;
    case 4:
      value = LoadU32(pField);
      break;
    default:
      return false;
  }
  memcpy(pOutput, &value, sizeof value);
  return true;
}

void WriteValue(const SettingEntry& entry, const void* pValue, uint8_t* pField) {
  bool bNumber = entry.ucKind != kSettingByteString;
  if (bNumber && entry.ucSize == 2) {
    uint16_t value;
    memcpy(&value, pValue, sizeof value);
    StoreU16(pField, value);
  } else if (bNumber && entry.ucSize == 4) {
    uint32_t value;
    memcpy(&value, pValue, sizeof value);
    StoreU32(pField, value);
  } else {
    memcpy(pField, pValue, entry.ucSize);  // one byte, or the byte string as it is
  }
}

}  // namespace

const SettingEntry* AllSettings() { return kSettings.data(); }

const SettingEntry* FindSetting(const char* pszName) {
  if (!pszName) return nullptr;
  for (const SettingEntry& entry : kSettings) {
    if (entry.ucKind == kSettingEnd) break;
    if (strcasecmp(entry.szName, pszName) == 0) return &entry;
  }
  return nullptr;
}

bool GetSetting(const char* pszName, bool bFlag, void* pOutput) {
  const SettingEntry* entry = FindSetting(pszName);
  WGServiceBlock block;
  if (!entry || !ServicePrepare(&block)) return false;
  Address(&block, *entry, bFlag ? kServiceGetFlagged : kServiceGet);
  return ServiceSend(&block, true) &&
         ReadValue(*entry, block.aucBlock + kServiceBlockValue, pOutput);
}

bool GetSettingBool(const char* pszName, bool bFlag, bool* pbOutput) {
  // Big enough for the byte string too, which a 32-bit scratch value could not hold.
  uint8_t aucValue[kValueRoom] = {};
  if (!GetSetting(pszName, bFlag, aucValue)) return false;
  *pbOutput =
      std::any_of(std::begin(aucValue), std::end(aucValue), [](uint8_t b) { return b != 0; });
  return true;
}

bool SetSetting(const char* pszName, bool bFlag, const void* pValue) {
  const SettingEntry* entry = FindSetting(pszName);
  WGServiceBlock block;
  if (!entry || !ServicePrepare(&block)) return false;
  Address(&block, *entry, bFlag ? kServiceSetFlagged : kServiceSet);
  WriteValue(*entry, pValue, block.aucBlock + kServiceBlockValue);
  return ServiceSend(&block, false);
}

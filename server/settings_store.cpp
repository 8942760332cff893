#include "server/settings_store.h"

#include <cstring>
#include <iterator>

#include "local/matcher_adapter.h"
#include "server/user_store.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

namespace {

struct Default {
  const char* pszName;
  uint32_t number;     // for numbers and switches
  const char* pszText;  // for the byte string
};

// The server's defaults. A gain-control loop field is named by its field alone: the service
// channel gives the same identifier to that field in all fifteen loops, so they share one
// value. The other settings are named in full.
// clang-format off
constexpr Default kDefaults[] = {
    // name                     number       text
    {"iControlBits",            0,           nullptr},
    {"iLoopGain",               256,         nullptr},
    {"iDeadBand",               2,           nullptr},
    {"iDelta",                  1,           nullptr},
    {"iLocalSetPoint",          128,         nullptr},
    {"iCascadeSetPoint",        128,         nullptr},
    {"iRegisterOffset",         0,           nullptr},
    {"iRegisterBitMask",        255,         nullptr},
    {"iBitFieldOffset",         0,           nullptr},
    {"ForceAFCS1Format",        0,           nullptr},
    {"UserComAdjust",           0,           nullptr},
    {"HWBaudMultiply",          1,           nullptr},
    {"Comm port name",          0,           "COM1"},
    {"SensorDutyCycle",         100,         nullptr},
    {"Startup baud rate",       9600,        nullptr},
    {"AutoCalEnable",           1,           nullptr},
    {"PassBadImages",           0,           nullptr},
    {"MaxBadRFBlockPercent",    10,          nullptr},
    {"BarRemoval",              1,           nullptr},
    {"CorMtchSR",               40,          nullptr},
    {"CorMtchSA",               60,          nullptr},
    {"MinDampArea",             20,          nullptr},
    {"MaxDampArea",             200,         nullptr},
    {"ImageAveragingon",        0,           nullptr},
    {"AverageImagePercent",     50,          nullptr},
    {"SameThresholdPercent",    90,          nullptr},
    {"SameCompareBits",         4096,        nullptr},
    {"MinMoistureAGC",          100,         nullptr},
    {"ChipDebugMode",           0,           nullptr},
    {"SavePerformanceData",     0,           nullptr},
    {"FreqExtendedEnroll",      0,           nullptr},
    {"DumpAGCData",             0,           nullptr},
    {"MinAcceptConfidence",     80,          nullptr},
    {"MinRejectConfidence",     20,          nullptr},
    {"CurrentWhereFilter",      0xFFE00000u, nullptr},
    {"CurrentTypeFilter",       0xF001000Fu, nullptr},
    {"CorMtchNA",               kDefaultMinimumScore, nullptr},
    {"CorMtchEnrollQ",          40,          nullptr},
    {"CorMtchEnrollC",          40,          nullptr},
    {"StableMatch",             3,           nullptr},
    {"StableEnroll",            5,           nullptr},
    {"EnrollPhaseLimit",        5,           nullptr},
    {"DampContrastBinMax",      200,         nullptr},
    {"MaxDampBlockLimit",       16,          nullptr},
    {"Rotation",                0,           nullptr},
    {"UseBrandedBitmap",        0,           nullptr},
    {"FKeyEnabled",             0,           nullptr},
    {"FKeyControl",             0,           nullptr},
    {"FKeyShift",               0,           nullptr},
    {"FKeyALT",                 0,           nullptr},
    {"FKeyNumber",              0,           nullptr},
    {"Sensor Type",             1,           nullptr},
};
// clang-format on

constexpr uint8_t kSettingSwitch = 3;

const Default* FindDefault(const char* name) {
  for (const Default& d : kDefaults) {
    if (strcmp(d.pszName, name) == 0) return &d;
  }
  return nullptr;
}

// A loop field's default is named by the field, the part behind the loop's name.
const Default* DefaultFor(const SettingEntry& entry) {
  if (const Default* d = FindDefault(entry.szName)) return d;
  const char* blank = strchr(entry.szName, ' ');
  return blank ? FindDefault(blank + 1) : nullptr;
}

bool Encode(const SettingEntry& entry, const Default& d, uint8_t* value) {
  if (entry.ucKind == kSettingByteString) {
    if (!d.pszText || strlen(d.pszText) >= entry.ucSize) return false;
    strncpy(reinterpret_cast<char*>(value), d.pszText, entry.ucSize);
    return true;
  }
  switch (entry.ucSize) {
    case 1:
      value[0] = static_cast<uint8_t>(d.number);
      return d.number <= 0xFF && (entry.ucKind != kSettingSwitch || d.number <= 1);
    case 2:
      StoreU16(value, static_cast<uint16_t>(d.number));
      return d.number <= 0xFFFF;
    case 4:
      StoreU32(value, d.number);
      return true;
    default:
      return false;
  }
}

const char* CheckValue(const SettingEntry& entry, const uint8_t* value) {
  if (entry.ucKind == kSettingSwitch && value[0] > 1) return "a switch is 0 or 1";
  if (entry.ucKind == kSettingByteString && !memchr(value, '\0', entry.ucSize)) {
    return "the text does not end inside its field";
  }
  return nullptr;
}

}  // namespace

bool ServerSettings::load(UserStore& store, std::string* error) {
  parameters_.clear();
  for (const SettingEntry* entry = AllSettings(); entry->ucKind != kSettingEnd; ++entry) {
    auto [it, added] = parameters_.try_emplace(entry->uiIdentifier, Parameter{entry, {}});
    const SettingEntry& owner = *it->second.entry;
    if (!added && (owner.ucSize != entry->ucSize || owner.ucKind != entry->ucKind)) {
      *error = std::string("settings \"") + owner.szName + "\" and \"" + entry->szName +
               "\" share an identifier but not a size";
      return false;
    }
    const Default* d = DefaultFor(*entry);
    if (!d || !Encode(*entry, *d, it->second.value.data())) {
      *error = std::string("setting \"") + entry->szName + "\" has no default of its size";
      return false;
    }
  }
  auto stored = store.storedSettings();
  if (!stored) {
    *error = "the stored settings could not be read";
    return false;
  }
  for (const auto& [identifier, bytes] : *stored) {
    const Parameter* parameter = nullptr;
    // A value that no longer fits the table (a store of another server version) is passed over:
    // the default stands.
    if (find(identifier, static_cast<uint16_t>(bytes.size()), &parameter) ||
        CheckValue(*parameter->entry, bytes.data())) {
      TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING,
                 "Stored setting does not fit the table, default kept: identifier", identifier);
      continue;
    }
    memcpy(parameters_[identifier].value.data(), bytes.data(), bytes.size());
  }
  return true;
}

const char* ServerSettings::find(uint16_t identifier, uint16_t size,
                                 const Parameter** parameter) const {
  auto it = parameters_.find(identifier);
  if (it == parameters_.end()) return "no setting has this identifier";
  if (it->second.entry->ucSize != size) return "the size is not the setting's";
  *parameter = &it->second;
  return nullptr;
}

const char* ServerSettings::get(uint16_t identifier, uint16_t size, uint8_t* value) const {
  const Parameter* parameter = nullptr;
  if (const char* fault = find(identifier, size, &parameter)) return fault;
  memcpy(value, parameter->value.data(), size);
  return nullptr;
}

uint32_t ServerSettings::number(const char* name) const {
  const SettingEntry* entry = FindSetting(name);
  const Parameter* parameter = nullptr;
  if (!entry || entry->ucSize > 4 || find(entry->uiIdentifier, entry->ucSize, &parameter)) return 0;
  uint32_t value = 0;
  for (int i = entry->ucSize - 1; i >= 0; --i) value = value << 8 | parameter->value[i];
  return value;
}

const char* ServerSettings::set(UserStore& store, uint16_t identifier, uint16_t size,
                                const uint8_t* value) {
  const Parameter* parameter = nullptr;
  if (const char* fault = find(identifier, size, &parameter)) return fault;
  if (const char* fault = CheckValue(*parameter->entry, value)) return fault;
  // Stored first: a value in effect is never one that a restart would lose.
  if (!store.storeSetting(identifier, value, static_cast<uint8_t>(size))) {
    return kSettingNotStored;
  }
  memcpy(parameters_[identifier].value.data(), value, size);
  return nullptr;
}

// The viewer's values in the current user's registry store, with their defaults. Every value is
// read with the operations that store the default when the value is missing.
#pragma once

#include <cstdint>

inline constexpr char kVentologRegistryPrefix[] = "Software\\Kestrelon\\Ventolog\\";

inline constexpr char kOptionsKey[] = "Options";
inline constexpr char kStartupLogFileNameValue[] = "StartupLogFileName";  // text, ""

inline constexpr char kCommPortSettingsKey[] = "CommPortSettings";
inline constexpr char kCommPortValue[] = "CommPort";        // text, "COM1"
inline constexpr char kBaudRateValue[] = "BaudRate";        // number, 9600
inline constexpr char kNumDataBitsValue[] = "NumDataBits";  // number, 8
inline constexpr char kParityValue[] = "Parity";  // number, 0 none 1 odd 2 even 3 mark 4 space
inline constexpr char kNumStopBitsValue[] = "NumStopBits";  // number, 0 one 1 one and a half 2 two
inline constexpr char kDefaultCommPort[] = "COM1";
inline constexpr uint32_t kDefaultBaudRate = 9600;
inline constexpr uint32_t kDefaultDataBits = 8;
inline constexpr uint32_t kDefaultParity = 0;
inline constexpr uint32_t kDefaultStopBits = 0;

inline constexpr char kFrameLayoutKey[] = "Frame Layout";
inline constexpr char kTopLeftXValue[] = "TopLeftX";  // defaults from the screen size
inline constexpr char kTopLeftYValue[] = "TopLeftY";
inline constexpr char kSizeXValue[] = "SizeX";
inline constexpr char kSizeYValue[] = "SizeY";

inline constexpr char kFilterSetupKey[] = "Filter Setup";
inline constexpr char kWhereFilterValue[] = "Where";
inline constexpr char kTypeFilterValue[] = "Type";
// Only the category "FrameWork" and only the type "Fatal".
inline constexpr uint32_t kDefaultFilter = 0x80000000u;

// The library's exports with their ordinals, the numbers by which applications of the original
// system import them. Linux imports by name; the table keeps the numbering in one place, and a
// test holds the library's dynamic symbols to it: every name here is exported, nothing else.
#pragma once

#include <cstdint>

struct WGExport {
  uint16_t uiOrdinal;
  const char* pszName;
};

inline constexpr WGExport kWGExports[] = {
    // Basic calls.
    {1, "WhorlgateEnroll"},
    {2, "WhorlgateValidateID"},
    {3, "WhorlgateIdentify"},
    {4, "WhorlgateValidateFingers"},
    {5, "WhorlgateDeleteUser"},
    {6, "WhorlgateInit"},
    {7, "WhorlgateClose"},
    {15, "WhorlgateGetResultDetails"},
    {16, "WGServiceRequest"},
    {18, "WhorlgateGetNextUser"},
    {27, "WhorlgateGetLeds"},
    {28, "WhorlgateSetLeds"},
    {29, "WhorlgateGetVersion"},
    {93, "WhorlgateGetNumberUsers"},
    {94, "WhorlgateGetUserInfo"},
    {95, "WhorlgateDeleteFinger"},
    {96, "WhorlgateSetDisplayName"},
    {97, "WhorlgateGetListOfAllUsers"},
    {98, "WhorlgateDeleteUserList"},
    {99, "WhorlgateDeleteAllEnrolledUsers"},
    // Image stream calls.
    // Transaction calls.
    {41, "WGReleaseMessage"},
    {42, "WGAbortTransaction"},
    // Comm port calls.
    // Extended calls: images and template records.
    {30, "WGGetImageBufferSize"},
    {31, "WGGetOSBmpHeaderSize"},
    {32, "WGBuildOSBmpHeader"},
    {37, "WGGetReferenceTemplateSize"},
    {87, "WGGetSmallReferenceTemplateSize"},
    {88, "WGConvertNormalReferenceTemplateToSmall"},
};

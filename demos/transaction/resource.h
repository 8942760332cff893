// The transaction demo's resources: menu command ids, dialog and control ids, texts.
#pragma once

// Menu commands.
inline constexpr int kCmdAppExit = 57665;
inline constexpr int kCmdAppAbout = 57664;
inline constexpr int kCmdEnrollPolled = 32771;
inline constexpr int kCmdEnrollCallback = 32772;
inline constexpr int kCmdValidatePolled = 32773;
inline constexpr int kCmdValidateCallback = 32774;
inline constexpr int kCmdVerifyPolled = 32775;
inline constexpr int kCmdVerifyCallback = 32776;
inline constexpr int kCmdIdentifyPolled = 32777;
inline constexpr int kCmdIdentifyCallback = 32778;
inline constexpr int kCmdUserAdmin = 32780;
inline constexpr int kCmdVerifyReducedPolled = 32782;
inline constexpr int kCmdVerifyReducedCallback = 32783;

// The main frame's controls.
inline constexpr int kIdStatusBox = 101;
inline constexpr int kIdPromptBox = 102;
inline constexpr int kIdFingerprintView = 103;
inline constexpr int kIdProgressBar = 104;
inline constexpr int kIdFirstPane = 59648;

// User Identification.
inline constexpr int kIdNameEdit = 1000;
inline constexpr int kIdFirstFingerButton = 1004;  // to 1013
inline constexpr int kIdMarkFingerLabel = 1015;
inline constexpr int kIdNameLabel = 1016;

// Database Administration.
inline constexpr int kIdUserList = 1017;
inline constexpr int kIdDeleteUser = 1018;

inline constexpr const char* kAppTitle = "WGHighPerformanceAPIDemo";
inline constexpr const char* kPlainTitle = "WhorlgateHiPerformanceAPIDemo";

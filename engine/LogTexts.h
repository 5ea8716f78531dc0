#pragma once
// The operator-log lines of the tool, named once: the worker's lines of an update
// (posted as STATUS_LOG_TEXT, constants that live for the whole run) and the lines
// the session adds when the operator starts, stops, opens files or saves. No front
// end follows an update by these texts; they are only shown.
inline constexpr const char* kLogLoader1 = "1.Loading loader 1...";
inline constexpr const char* kLogLoader2 = "2.Loading loader 2....";
inline constexpr const char* kLogUpdateData = "3.Loading update data....";
inline constexpr const char* kLogProgramming = "4.Programing flash....";
inline constexpr const char* kLogFinished = "5.Update finished!!!";
inline constexpr const char* kLogErase = "----Erase Flash:";

inline constexpr const char* kLogReady = "Ready to update program......";
inline constexpr const char* kLogStopped = "Stop updating!!!";
inline constexpr const char* kLogIncludeFiles = "----Include Files:";
inline constexpr const char* kLogSaveFilesTo = "----Save Files To:";

#pragma once
// The operator-log lines of an update, as the worker posts them (STATUS_LOG_TEXT):
// constants that live for the whole run. Front ends that follow an update by them
// compare their text.
inline constexpr const char* kLogLoader1 = "1.Loading loader 1...";
inline constexpr const char* kLogLoader2 = "2.Loading loader 2....";
inline constexpr const char* kLogUpdateData = "3.Loading update data....";
inline constexpr const char* kLogProgramming = "4.Programing flash....";
inline constexpr const char* kLogFinished = "5.Update finished!!!";
inline constexpr const char* kLogErase = "----Erase Flash:";

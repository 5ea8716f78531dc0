#pragma once
#include <cstdint>

#include "serial/SerialMessages.h"

// Thread messages from the dialog (or the command-line front end) to the worker.
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_OPEN_PORT = 1176;        // text: line settings; wParam: its length; lParam: port number
constexpr uint32_t WM_CLOSE_PORT = 1177;
constexpr uint32_t WM_LOAD_FILE = 1180;        // text: path of one update file
constexpr uint32_t WM_SAVE_FLASH_MAP = 1181;   // text: path to save to
constexpr uint32_t WM_RESET_IMAGE = 1182;
constexpr uint32_t WM_CONSOLE_COMMAND = 1183;  // text: command; lParam: crystal index
constexpr uint32_t WM_START_UPDATE = 1184;     // wParam: crystal index; lParam: 0, or the mark below
// lParam of WM_START_UPDATE that wakes the board again within the update under way,
// and only while the board has not answered since the last wake-up.
constexpr int64_t kStartUpdateAgain = 1;

// Window messages from the worker to its owner.
constexpr uint32_t WM_RX_TEXT = 1178;        // wParam: bytes waiting at the start of SharedText
constexpr uint32_t WM_WORKER_STATUS = 1179;  // wParam: status code below

constexpr uint32_t STATUS_PORT_STATE = 1;   // lParam: 1 open, 0 opening failed
constexpr uint32_t STATUS_LOG_TEXT = 2;     // lParam: const char* that lives for the whole run
constexpr uint32_t STATUS_PROGRESS = 3;     // lParam: 0..100
constexpr uint32_t STATUS_UPDATE_DONE = 4;
constexpr uint32_t STATUS_ERROR_TEXT = 5;   // lParam: const char* that lives for the whole run

// Texts travel by pointer in lParam.
inline int64_t TextParam(const char* text) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(text)); }
inline const char* ParamText(int64_t lParam) { return reinterpret_cast<const char*>(static_cast<intptr_t>(lParam)); }

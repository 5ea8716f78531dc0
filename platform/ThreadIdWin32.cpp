#include "platform/ThreadId.h"

#include <windows.h>

uint32_t CurrentThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }

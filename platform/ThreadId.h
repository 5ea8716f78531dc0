#pragma once
#include <cstdint>

// The system's id of the calling thread (never 0), as a debugger or the system's
// process viewer shows it.
uint32_t CurrentThreadId();

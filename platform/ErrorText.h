#pragma once
#include <string>

// What the C library says of an errno value, in words that can follow a path and a
// colon; safe to call from any thread.
std::string ErrorText(int error);

#pragma once
#include <string>

// The cause of a failed open in the operator's words, with what to do about it.
std::string DescribeOpenError(int error);

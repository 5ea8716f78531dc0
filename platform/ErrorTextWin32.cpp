#include "platform/ErrorText.h"

#include <cstring>

std::string ErrorText(int error) {
    char buffer[128] = {};
    if (strerror_s(buffer, sizeof buffer, error) != 0)
        return "error " + std::to_string(error);
    return buffer;
}

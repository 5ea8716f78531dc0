#include "platform/ErrorText.h"

#include <cstring>

std::string ErrorText(int error) {
    char buffer[128];
    return ::strerror_r(error, buffer, sizeof buffer);  // the GNU form
}

#include <cstring>

#include "monitoring/error_text.h"

namespace varnholt {

std::string ErrorText(int error) {
    char buffer[256] = {};
    if (strerror_s(buffer, sizeof buffer, error) != 0) return "error " + std::to_string(error);
    return buffer;
}

}  // namespace varnholt

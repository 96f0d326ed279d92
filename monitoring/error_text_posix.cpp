#include <cstring>

#include "monitoring/error_text.h"

namespace varnholt {
namespace {

// glibc's strerror_r returns the text (it may ignore the buffer); POSIX's
// returns a status and fills the buffer. Whichever this C library has:
[[maybe_unused]] std::string Text(const char* text, const char*) { return text; }
[[maybe_unused]] std::string Text(int status, const char* buffer) {
    return status == 0 ? buffer : "error " + std::to_string(status);
}

}  // namespace

std::string ErrorText(int error) {
    char buffer[256] = {};
    return Text(strerror_r(error, buffer, sizeof buffer), buffer);
}

}  // namespace varnholt

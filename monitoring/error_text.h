#pragma once

#include <string>

namespace varnholt {

// The system's words for an errno value, safe on any thread (std::strerror
// and libstdc++'s error_code messages share one buffer).
std::string ErrorText(int error);

}  // namespace varnholt

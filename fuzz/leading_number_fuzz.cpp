#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "instruments/leading_number.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = varnholt::LeadingNumber(text);
    if (std::isnan(value)) std::abort();
    return 0;
}

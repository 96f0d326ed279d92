#pragma once

#include <string_view>

namespace varnholt {

// The number at the start of a text, read the way the instruments' replies and
// the log file names are judged: blanks, tabs and line feeds anywhere are
// ignored, then sign, digits, fraction and exponent; a text without a leading
// number gives 0.
double LeadingNumber(std::string_view text);

}  // namespace varnholt

// LeadingNumber against a second, plainer reading of the same rules: drop the
// line noise in front and the skipped blanks, take the longest prefix that is a number by the
// grammar, convert it with strtod (the fuzzer runs in the C locale). The two must agree on every
// input.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

#include "instruments/leading_number.h"

namespace {

double Reference(std::string_view text) {
    size_t start = 0;
    while (start < text.size()) {
        const auto byte = static_cast<unsigned char>(text[start]);
        if (byte >= 0x20 && byte != 0x7F && byte != 0xFF && byte != ' ') break;
        ++start;
    }
    std::string compact;
    for (char c : text.substr(start)) {
        if (c != ' ' && c != '\t' && c != '\n') compact.push_back(c);
    }
    static const std::regex number(R"(^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    std::smatch match;
    if (!std::regex_search(compact, match, number)) return 0.0;
    return std::strtod(match.str(0).c_str(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256) return 0;  // the regex engine recurses per character
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = varnholt::LeadingNumber(text);
    const double expected = Reference(text);
    if (std::isnan(value)) std::abort();
    if (!(value == expected || (std::isnan(expected) && std::isnan(value)))) std::abort();
    return 0;
}

#include "report/words.h"

#include <cmath>
#include <cstdio>

#include "runlog/log_format.h"

namespace varnholt {

std::string Thousands(int64_t value) {
    // The magnitude in unsigned arithmetic: the most negative value has no
    // positive twin.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : uint64_t(value);
    std::string digits = std::to_string(magnitude);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return (value < 0 ? "-" : "") + digits;
}

std::string CyclesText(double value) {
    if (!std::isfinite(value)) return "not finite";
    // llround past the range of a 64-bit integer gives its most negative.
    if (std::fabs(value) >= 1e15) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3g", value);
        return text;
    }
    return Thousands(std::llround(value));
}

std::string Counted(int64_t count, const char* one, const char* many) {
    return Thousands(count) + " " + (count == 1 ? one : many);
}

std::string ShapeText(double beta) {
    if (!std::isfinite(beta)) return "not finite";
    char text[48];
    // Shapes past 1000 or below 0.01 are degenerate; their digits still show.
    std::snprintf(text, sizeof text, beta >= 1000 || (beta > 0 && beta < 0.01) ? "%.3g" : "%.2f",
                  beta);
    return text;
}

std::string DateText(int64_t localSeconds) {
    std::string iso = IsoLocalText(localSeconds);  // 2026-12-08T15:07:09
    iso[10] = ' ';
    return iso.substr(0, 16);
}

size_t Utf8Length(const std::string& text) {
    size_t n = 0;
    for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

std::string Utf8Prefix(const std::string& text, size_t characters) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == characters) {
            return text.substr(0, i);
        }
    }
    return text;
}

}  // namespace varnholt

#include "instruments/leading_number.h"

#include <charconv>
#include <limits>
#include <string>

namespace varnholt {
namespace {

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A NUL or another control character (the glitch of a USB adapter or an
// instrument powering up), or a stray 0xFF, is not part of any reply.
bool IsLineNoise(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F || byte == 0xFF;
}

// from_chars reports a value beyond double's range without giving it; the
// number's order of magnitude decides between infinity and zero.
double OutOfRange(const std::string& digits, bool negative) {
    const size_t point = digits.find('.');
    const size_t mark = digits.find_first_of("eE");
    const std::string mantissa = digits.substr(0, mark);
    long long magnitude = 0;
    const size_t firstNonZero = mantissa.find_first_not_of("0.");
    if (firstNonZero != std::string::npos) {
        const size_t end = point == std::string::npos ? mantissa.size() : point;
        magnitude = firstNonZero < end ? static_cast<long long>(end - firstNonZero)
                                       : -static_cast<long long>(firstNonZero - end - 1);
    }
    if (mark != std::string::npos) {
        size_t i = mark + 1;
        const bool negativeExponent = digits[i] == '-';
        if (digits[i] == '+' || digits[i] == '-') ++i;
        long long exponent = 0;
        for (; i < digits.size(); ++i) {
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (digits[i] - '0');
        }
        magnitude += negativeExponent ? -exponent : exponent;
    }
    const double value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

}  // namespace

double LeadingNumber(std::string_view text) {
    size_t start = 0;
    while (start < text.size() && (IsSkipped(text[start]) || IsLineNoise(text[start]))) ++start;
    std::string compact;
    compact.reserve(text.size() - start);
    for (char c : text.substr(start)) {
        if (!IsSkipped(c)) compact.push_back(c);
    }

    auto at = [&](size_t k) { return k < compact.size() ? compact[k] : '\0'; };
    size_t i = 0;
    bool negative = false;
    if (at(i) == '+' || at(i) == '-') negative = compact[i++] == '-';
    std::string number;  // digits, point and exponent, without the sign
    bool digits = false;
    while (IsDigit(at(i))) {
        number.push_back(compact[i++]);
        digits = true;
    }
    if (at(i) == '.') {
        number.push_back(compact[i++]);
        while (IsDigit(at(i))) {
            number.push_back(compact[i++]);
            digits = true;
        }
    }
    if (!digits) return 0.0;
    if (at(i) == 'E' || at(i) == 'e') {
        size_t k = i + 1;
        if (at(k) == '+' || at(k) == '-') ++k;
        if (IsDigit(at(k))) {
            number.append(compact, i, k - i);
            while (IsDigit(at(k))) number.push_back(compact[k++]);
        }
    }
    // from_chars reads the same on every system and in every locale.
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) return OutOfRange(number, negative);
    return negative ? -value : value;
}

}  // namespace varnholt

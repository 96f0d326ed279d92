#include "instruments/leading_number.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace varnholt {
namespace {

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// strtod follows the process locale's decimal point; replies always use '.'.
locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

}  // namespace

double LeadingNumber(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text) {
        if (!IsSkipped(c)) compact.push_back(c);
    }

    std::string number;
    size_t i = 0;
    auto at = [&](size_t k) { return k < compact.size() ? compact[k] : '\0'; };
    if (at(i) == '+' || at(i) == '-') number.push_back(compact[i++]);
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
    return strtod_l(number.c_str(), nullptr, CLocale());
}

}  // namespace varnholt

#include <langinfo.h>

#include <clocale>
#include <cstring>

#include "report_program/terminal.h"

namespace varnholt {

bool TerminalIsUtf8() {
    // Only the character set is taken from the environment: numbers keep
    // their C form in every locale.
    if (std::setlocale(LC_CTYPE, "") == nullptr) return false;
    const char* set = nl_langinfo(CODESET);
    const bool utf8 =
        set != nullptr && (std::strcmp(set, "UTF-8") == 0 || std::strcmp(set, "utf8") == 0);
    std::setlocale(LC_CTYPE, "C");
    return utf8;
}

}  // namespace varnholt

// kestrane.ini through inih, the reader Debian ships.
#include <ini.h>

#include "settings/ini_file.h"

namespace varnholt {
namespace {

int Store(void* user, const char* section, const char* name, const char* value) {
    static_cast<IniFile*>(user)->Add(section, name, value != nullptr ? value : "");
    return 1;
}

}  // namespace

void ParseIniPlatform(const std::string& text, IniFile& ini) {
    const int result = ini_parse_string(text.c_str(), Store, &ini);
    ini.firstBadLine = result > 0 ? result : 0;
}

}  // namespace varnholt

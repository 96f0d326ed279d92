// kestrane.ini through inih, the reader Debian ships.
#include <ini.h>

#include "sequencing/ini_file.h"

namespace varnholt {
namespace {

int Store(void* user, const char* section, const char* name, const char* value) {
    static_cast<IniFile*>(user)->Add(section, name, value != nullptr ? value : "");
    return 1;
}

void Parse(const std::string& text, IniFile& ini) {
    const int result = ini_parse_string(text.c_str(), Store, &ini);
    ini.firstBadLine = result > 0 ? result : 0;
}

}  // namespace

IniFile ParseIniText(const std::string& text) {
    IniFile ini;
    ini.found = true;
    Parse(text, ini);
    return ini;
}

bool ReadIniFile(const std::string& path, IniFile& ini, std::string& errorText) {
    ini = IniFile{};
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return true;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    ini.found = true;
    Parse(text, ini);
    errorText.clear();
    return true;
}

}  // namespace varnholt

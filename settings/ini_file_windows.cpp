// kestrane.ini through Windows' own private-profile reading.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "settings/ini_file.h"

namespace varnholt {
namespace {

// A double-NUL-terminated list (section names, or a section's key names).
std::vector<std::string> List(const char* section, const std::string& file) {
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD got = GetPrivateProfileStringA(section, nullptr, "", buffer.data(),
                                                   static_cast<DWORD>(buffer.size()), file.c_str());
        if (got < buffer.size() - 2) break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<std::string> names;
    for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) names.emplace_back(p);
    return names;
}

std::string Value(const std::string& section, const std::string& key, const std::string& file) {
    char buffer[kMaxIniLineLength + 3];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, sizeof buffer, file.c_str());
    std::string value = buffer;
    // As inih: a ';' after a blank starts a comment, and blanks around go.
    for (size_t i = 1; i < value.size(); ++i) {
        if (value[i] == ';' && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
            value.resize(i);
            break;
        }
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    return value;
}

}  // namespace

// The reader takes only a file: it gets a copy of the normalized text, so
// that it reads exactly what inih reads on Linux.
void ParseIniPlatform(const std::string& text, IniFile& ini) {
    char folder[MAX_PATH];
    char temporary[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "ini", 0, temporary);
    std::ofstream(temporary, std::ios::binary) << text;
    const std::string file = temporary;
    for (const std::string& section : List(nullptr, file)) {
        for (const std::string& key : List(section.c_str(), file)) {
            ini.Add(section, key, Value(section, key, file));
        }
    }
    DeleteFileA(temporary);
}

}  // namespace varnholt

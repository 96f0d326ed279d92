#pragma once

#include <map>
#include <string>

namespace varnholt {

// The values of an INI file as the platform's reader found them. Section and
// key names match without regard to case; a key given twice holds both
// values, one per line.
class IniFile {
public:
    bool Has(const std::string& section, const std::string& name) const;
    // Empty when the key is missing.
    std::string Get(const std::string& section, const std::string& name) const;
    // Every key of a section, names in lower case.
    std::map<std::string, std::string> Section(const std::string& section) const;
    void Add(const std::string& section, const std::string& name, const std::string& value);

    bool found = false;  // the file was there
    int firstBadLine = 0;  // 0, or the first line the reader could not parse

private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

// Reads the file at path. A missing file gives an empty IniFile and true.
bool ReadIniFile(const std::string& path, IniFile& ini, std::string& errorText);
// Parses INI text the way ReadIniFile parses a file's contents.
IniFile ParseIniText(const std::string& text);

}  // namespace varnholt

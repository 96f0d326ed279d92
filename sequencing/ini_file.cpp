#include "sequencing/ini_file.h"

namespace varnholt {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

bool IniFile::Has(const std::string& section, const std::string& name) const {
    return values_.count({Lower(section), Lower(name)}) != 0;
}

std::string IniFile::Get(const std::string& section, const std::string& name) const {
    const auto it = values_.find({Lower(section), Lower(name)});
    return it == values_.end() ? std::string() : it->second;
}

std::map<std::string, std::string> IniFile::Section(const std::string& section) const {
    std::map<std::string, std::string> keys;
    const std::string wanted = Lower(section);
    for (const auto& [key, value] : values_) {
        if (key.first == wanted) keys.emplace(key.second, value);
    }
    return keys;
}

void IniFile::Add(const std::string& section, const std::string& name, const std::string& value) {
    auto [it, added] = values_.try_emplace({Lower(section), Lower(name)}, value);
    if (!added) it->second += "\n" + value;
}

}  // namespace varnholt

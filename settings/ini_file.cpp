#include "settings/ini_file.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "runlog/working_directory.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Trimmed(const std::string& line) {
    const size_t begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    return line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin);
}

// What is wrong with a line the reader refused, in the operator's words.
std::string Fault(const std::string& line) {
    const std::string text = Trimmed(line);
    if (!text.empty() && text[0] == '[') return "the section name has no closing ']'";
    return "it is neither [Section], Key=Value nor a ; comment";
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The syntax both platforms' readers take the same way. Anything else is
// refused here, before either reads it: inih keeps both values of a key given
// twice, where Windows' reader takes the first.
std::string SyntaxFault(const std::string& line, std::string& section,
                        std::set<std::pair<std::string, std::string>>& keys) {
    const std::string text = Trimmed(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') return {};
    if (text[0] == '[') {
        const size_t end = text.find(']');
        if (end == std::string::npos) return Fault(line);
        section = Lower(text.substr(1, end - 1));
        return {};
    }
    // inih also takes "Key: value"; Windows does not.
    const size_t equals = text.find('=');
    if (equals == std::string::npos || text.find(':') < equals) return Fault(line);
    std::string key = Trimmed(text.substr(0, equals));
    if (!keys.insert({section, Lower(key)}).second) {
        return key + " is given a second time in this section; keep one";
    }
    return {};
}

// The line's own text, short enough for the status line.
std::string Quoted(const std::string& line) {
    std::string text = Trimmed(line);
    if (text.size() > 40) text = text.substr(0, 40) + "...";
    return "'" + text + "'";
}

// Refuses what the reader would misread in silence: a NUL ends its reading,
// a line longer than its buffer is cut and the rest read as a new line, and
// the lines SyntaxFault refuses.
bool CheckLines(const std::string& name, const std::string& text, std::string& errorText) {
    std::istringstream lines(text);
    int number = 0;
    std::string section;
    std::set<std::pair<std::string, std::string>> keys;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) {
            errorText = name + " line " + std::to_string(number) +
                        " holds a NUL character: it is not a text file; write it again with a "
                        "text editor.";
            return false;
        }
        if (line.size() > kMaxIniLineLength) {
            errorText = name + " line " + std::to_string(number) + " is " +
                        std::to_string(line.size()) + " characters long; a line can have at most " +
                        std::to_string(kMaxIniLineLength) +
                        " (split a long comment over several ; lines).";
            return false;
        }
        const std::string fault = SyntaxFault(line, section, keys);
        if (!fault.empty()) {
            errorText = name + " line " + std::to_string(number) + " " + Quoted(line) +
                        " is not understood: " + fault + ".";
            return false;
        }
    }
    return true;
}

std::string LineAt(const std::string& text, int wanted) {
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        if (++number == wanted) return line;
    }
    return {};
}

}  // namespace

std::string NormalizedIniText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    bool lineStart = true;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (lineStart && IsBlank(c)) continue;
        if (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
            out.push_back('\n');
            lineStart = true;
            continue;
        }
        out.push_back(c);
        lineStart = c == '\n';
    }
    return out;
}

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

IniFile ParseIniText(const std::string& text) {
    IniFile ini;
    ini.found = true;
    ParseIniPlatform(NormalizedIniText(text), ini);
    return ini;
}

bool ReadIniFile(const std::string& name, IniFile& ini, std::string& errorText) {
    ini = IniFile{};
    const std::string where = name + " in " + WorkingDirectory();
    std::error_code error;
    // status() follows a link without opening anything: a FIFO would block
    // the open, a device would never end.
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::not_found) return true;
    if (error) {
        errorText = "Cannot read " + where + ": " + error.message() +
                    "; make it readable or start the program in another folder.";
        return false;
    }
    if (status.type() != fs::file_type::regular) {
        std::string link;
        if (fs::is_symlink(fs::symlink_status(name, error))) {
            link = " (a link to " + fs::read_symlink(name, error).string() + ")";
        }
        errorText = where + link + " is " + FileKindText(status.type()) +
                    ", not a plain file; replace it with a plain text file of settings.";
        return false;
    }
    const auto size = fs::file_size(name, error);
    if (!error && size > kMaxIniFileBytes) {
        errorText = where + " is " + std::to_string(size) +
                    " bytes long, more than any configuration needs (at most " +
                    std::to_string(kMaxIniFileBytes) + "); check that it is the right file.";
        return false;
    }
    std::ifstream file(name, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    if (!file) {
        errorText = "Cannot read " + where +
                    "; make it readable for this user or start the "
                    "program in another folder.";
        return false;
    }
    const std::string text = NormalizedIniText(content.str().substr(0, kMaxIniFileBytes));
    if (!CheckLines(name, text, errorText)) return false;
    ini.found = true;
    ParseIniPlatform(text, ini);
    if (ini.firstBadLine > 0) {
        const std::string line = LineAt(text, ini.firstBadLine);
        errorText = name + " line " + std::to_string(ini.firstBadLine) + " " + Quoted(line) +
                    " is not understood: " + Fault(line) + ".";
        return false;
    }
    return true;
}

}  // namespace varnholt

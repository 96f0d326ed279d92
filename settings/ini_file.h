#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace varnholt {

// The values of an INI file as the platform's reader found them: blanks and
// an inline "; comment" around a value already taken off. Section and key
// names match without regard to case; a key given twice holds both
// values, one per line.
class IniFile {
public:
    bool Has(const std::string& section, const std::string& name) const;
    // Empty when the key is missing.
    std::string Get(const std::string& section, const std::string& name) const;
    // Every key of a section, names in lower case.
    std::map<std::string, std::string> Section(const std::string& section) const;
    void Add(const std::string& section, const std::string& name, const std::string& value);

    bool found = false;    // the file was there
    int firstBadLine = 0;  // 0, or the first line the reader could not parse

private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

// No configuration is this long; a file that is, is the wrong file.
constexpr size_t kMaxIniFileBytes = 1024 * 1024;
// The longest line the platform's reader takes whole (its buffer of 200 holds
// the line end and a terminating NUL as well).
constexpr size_t kMaxIniLineLength = 197;

// Reads the file name in the working directory. A missing file gives an empty
// IniFile and true. Refuses, with a sentence naming the file and what is
// wrong, anything the reader would hang on or misread in silence: a FIFO or
// device, a file over kMaxIniFileBytes, a NUL, a line over kMaxIniLineLength,
// a line it cannot parse.
bool ReadIniFile(const std::string& name, IniFile& ini, std::string& errorText);
// Parses INI text the way ReadIniFile parses a file's contents, bad lines
// noted in firstBadLine rather than refused.
IniFile ParseIniText(const std::string& text);

// The one reading both platforms' readers get: a UTF-8 byte-order mark
// (Notepad writes one) dropped, a lone CR taken as a line end, and the blanks
// that start a line dropped. Without this inih would join an indented line
// to the line above (a section header too, in silence), where Windows' reader
// takes it as a line of its own. Line numbers stay as in the file.
std::string NormalizedIniText(const std::string& text);

// The platform's reader, on text already normalized and checked: inih reads
// the text, Windows' private-profile functions a temporary copy of it.
void ParseIniPlatform(const std::string& text, IniFile& ini);

}  // namespace varnholt

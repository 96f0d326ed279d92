#pragma once

#include <string>

namespace varnholt {

// Bytes as valid UTF-8: well-formed UTF-8 sequences stay, every other byte is
// read as Latin-1 (what an 8-bit device most likely meant). Folder names come
// through whole; a device's stray byte 0xFF becomes "ÿ", never a broken text.
std::string ValidUtf8(const std::string& bytes);

// The text as a JSON string, quotes included: valid UTF-8 whatever its bytes.
std::string JsonString(const std::string& bytes);

}  // namespace varnholt

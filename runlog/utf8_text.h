#pragma once

#include <cstddef>
#include <string>

namespace varnholt {

// Bytes as valid UTF-8: well-formed UTF-8 sequences stay, every other byte is
// read as Latin-1 (what an 8-bit device most likely meant). Folder names come
// through whole; a device's stray byte 0xFF becomes "ÿ", never a broken text.
std::string ValidUtf8(const std::string& bytes);

// Whether ValidUtf8 would leave the bytes as they are.
bool IsValidUtf8(const std::string& bytes);
// Whether the text holds a C0 or C1 control character or DEL (as UTF-8).
bool HoldsControlCharacter(const std::string& text);

// A name for a sentence or a table cell: valid UTF-8, control characters as
// '?', and at most `most` bytes of it, "..." marking a cut.
std::string PrintableName(const std::string& name, size_t most);

// The text as a JSON string, quotes included: valid UTF-8 whatever its bytes.
std::string JsonString(const std::string& bytes);

}  // namespace varnholt

#include "runlog/utf8_text.h"

#include <cstddef>
#include <cstdio>

#include "runlog/json.h"

namespace varnholt {
namespace {

// Length of the well-formed UTF-8 sequence at i, or 0 (overlong forms,
// surrogates and values past U+10FFFF are not well formed).
size_t SequenceLength(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        length = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = SequenceLength(bytes, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

bool HoldsControlCharacter(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        // C1 is U+0080..U+009F: C2 80..C2 9F.
        if (byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            return true;
        }
    }
    return false;
}

std::string ValidUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = SequenceLength(bytes, i);
        if (length > 0) {
            out.append(bytes, i, length);
            i += length;
            continue;
        }
        const auto latin1 = static_cast<unsigned char>(bytes[i++]);
        out.push_back(static_cast<char>(0xC0 | (latin1 >> 6)));
        out.push_back(static_cast<char>(0x80 | (latin1 & 0x3F)));
    }
    return out;
}

std::string JsonString(const std::string& bytes) { return JsonText(Json(bytes)); }

std::string PrintableName(const std::string& name, size_t most) {
    std::string text = ValidUtf8(name.substr(0, most));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return name.size() > most ? text + "..." : text;
}

}  // namespace varnholt

#pragma once

#include <windows.h>

#include <string>

namespace varnholt {

// A UTF-8 file name as Windows' wide-character file functions take it.
inline std::wstring WidePath(const std::string& name) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide.data(), size);
    wide.resize(wide.size() - 1);
    return wide;
}

}  // namespace varnholt

#pragma once

#include <filesystem>
#include <string>

namespace varnholt {

// The folder the operator started the program in, for messages that must say
// where a file was looked for or could not be made.
inline std::string WorkingDirectory() {
    std::error_code error;
    const auto path = std::filesystem::current_path(error);
    return error ? std::string(".") : path.string();
}

// What a name is when it is not a plain file, for sentences: "a folder",
// "a named pipe (FIFO)", "a device" ...
inline std::string FileKindText(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::directory:
            return "a folder";
        case std::filesystem::file_type::fifo:
            return "a named pipe (FIFO)";
        case std::filesystem::file_type::character:
        case std::filesystem::file_type::block:
            return "a device";
        case std::filesystem::file_type::socket:
            return "a socket";
        default:
            return "not a plain file";
    }
}

}  // namespace varnholt

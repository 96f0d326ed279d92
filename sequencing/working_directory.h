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

}  // namespace varnholt

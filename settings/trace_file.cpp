#include "settings/trace_file.h"

#include <cctype>
#include <filesystem>
#include <fstream>

#include "runlog/log_writer.h"
#include "runlog/working_directory.h"
#include "settings/kestrane_ini.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

std::string Refusal(const std::string& file, const std::string& why) {
    return std::string(kConfigurationFile) + ": [Diagnostics] TraceFile = '" + file + "' " + why +
           "; name a file of its own, such as varnholt-trace.txt, or remove the key to run "
           "without a trace.";
}

// Every trace line starts "2026-12-08 03:07:09.412 ".
bool StartsLikeATrace(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[24] = {};
    in.read(head, sizeof head);
    const std::streamsize got = in.gcount();
    if (got == 0) return true;
    if (got < static_cast<std::streamsize>(sizeof head)) return false;
    const char* shape = "dddd-dd-dd dd:dd:dd.ddd ";
    for (size_t i = 0; i < sizeof head; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(head[i])) != 0;
        if (shape[i] == 'd' ? !digit : head[i] != shape[i]) return false;
    }
    return true;
}

// Empty when the name may be used; else why not.
std::string Problem(const std::string& name) {
    const std::string base = fs::path(name).filename().string();
    if (IsTestLogName(base)) return "is a test log's name";
    std::error_code error;
    if (fs::equivalent(name, kConfigurationFile, error)) return "is the settings file itself";
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::not_found) return {};
    if (status.type() != fs::file_type::regular) return "is " + FileKindText(status.type());
    if (!StartsLikeATrace(name)) return "holds something other than a wire trace";
    return {};
}

}  // namespace

std::string RotatedTraceName(const std::string& file, size_t index) {
    if (index == 0) return file;
    // As the rotating sink splits it: an extension only after the last
    // folder separator and not at the start of the name.
    const size_t dot = file.rfind('.');
    const size_t slash = file.find_last_of("/\\");
    const bool hasExtension = dot != std::string::npos && dot != 0 && dot != file.size() - 1 &&
                              (slash == std::string::npos || dot > slash + 1);
    if (!hasExtension) return file + "." + std::to_string(index);
    return file.substr(0, dot) + "." + std::to_string(index) + file.substr(dot);
}

bool CheckTraceFile(const std::string& file, std::string& errorText) {
    for (size_t index = 0; index <= kTraceFilesKept; ++index) {
        const std::string name = RotatedTraceName(file, index);
        const std::string problem = Problem(name);
        if (problem.empty()) continue;
        const std::string why =
            index == 0 ? problem : "would rotate into " + name + ", which " + problem;
        errorText = Refusal(file, why + " (in " + WorkingDirectory() + ")");
        return false;
    }
    return true;
}

}  // namespace varnholt

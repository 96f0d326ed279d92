// File permissions as POSIX defines them.
#include <sys/stat.h>
#include <unistd.h>

#include "settings/monitoring_settings.h"

namespace varnholt {

bool ReadableByOthers(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool IsRunnable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

}  // namespace varnholt

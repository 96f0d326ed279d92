// File access on Windows: its ACLs are the folder's business, and a program
// is a file that exists.
#include <windows.h>

#include "settings/monitoring_settings.h"

namespace varnholt {

bool ReadableByOthers(const std::string&) { return false; }

bool IsRunnable(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace varnholt

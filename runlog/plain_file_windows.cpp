// Opening files for reading on Windows: shared with the writer, and judged by
// the open handle's type, so a pipe or device under a log's name is refused.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "runlog/plain_file.h"
#include "runlog/wide_path_windows.h"

namespace varnholt {
namespace {

HANDLE Open(const std::string& path, DWORD access) {
    // Backup semantics: a folder opens too, and is then named as one.
    return CreateFileW(WidePath(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

OpenOutcome OpenPlainFile(const std::string& path, PlainFile& out, std::string& problem) {
    const HANDLE handle = Open(path, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            problem = "it does not exist";
            return OpenOutcome::Missing;
        }
        problem = "it cannot be opened for reading (error " + std::to_string(error) + ")";
        return OpenOutcome::NotPlain;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        problem = type == FILE_TYPE_PIPE   ? "it is a named pipe"
                  : type == FILE_TYPE_CHAR ? "it is a device"
                  : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                      ? "it is a folder"
                      : "it is not a plain file";
        CloseHandle(handle);
        return OpenOutcome::NotPlain;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        problem = "it cannot be opened for reading";
        return OpenOutcome::NotPlain;
    }
    out.file = _fdopen(fd, "rb");
    if (out.file == nullptr) {
        _close(fd);
        problem = "it cannot be opened for reading";
        return OpenOutcome::NotPlain;
    }
    out.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.id = {info.dwVolumeSerialNumber,
              (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return OpenOutcome::Opened;
}

bool StampOf(const std::string& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return false;
    stamp.id = {};  // a rename over the log changes its time; the index costs an open
    stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.modified =
        static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                             data.ftLastWriteTime.dwLowDateTime);
    // FILETIME counts 100 ns from 1601.
    stamp.modifiedUnix = (stamp.modified - 116444736000000000) / 10000000;
    return true;
}

bool IdentityOf(const std::string& path, FileId& id) {
    // No access asked: only the file's information is read.
    const HANDLE handle = Open(path, 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (ok) {
        id = {info.dwVolumeSerialNumber,
              (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    }
    return ok;
}

}  // namespace varnholt

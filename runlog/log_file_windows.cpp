// The log's file operations on Windows.
#include <windows.h>

#include <ctime>

#include "runlog/log_file.h"
#include "runlog/wide_path_windows.h"

namespace varnholt {
namespace {

HANDLE Handle(const LogFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

FileFault FaultOf(DWORD error) {
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text != nullptr ? text : "error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\r' || message.back() == '\n' || message.back() == '.')) {
        message.pop_back();
    }
    return {message, error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL};
}

}  // namespace

CreateOutcome CreateNewFile(const std::string& name, LogFile& file, FileFault& fault) {
    // CREATE_NEW: an existing log is never overwritten, whatever a listing said.
    const HANDLE handle = CreateFileW(WidePath(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        file.handle = reinterpret_cast<std::intptr_t>(handle);
        return CreateOutcome::Created;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
        return CreateOutcome::NameTaken;
    // A folder of that name is taken too; Windows says "access denied".
    const DWORD attributes = GetFileAttributesW(WidePath(name).c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return CreateOutcome::NameTaken;
    }
    fault = FaultOf(error);
    return CreateOutcome::Failed;
}

bool AppendDurably(LogFile& file, const std::string& text, FileFault& fault) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(text.size() - done);
        if (!WriteFile(Handle(file), text.data() + done, chunk, &written, nullptr)) {
            fault = FaultOf(GetLastError());
            return false;
        }
        done += written;
    }
    if (FlushFileBuffers(Handle(file))) return true;
    fault = FaultOf(GetLastError());
    return false;
}

bool TruncateFile(LogFile& file, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(Handle(file), at, nullptr, FILE_BEGIN) && SetEndOfFile(Handle(file)) &&
           FlushFileBuffers(Handle(file));
}

void CloseFile(LogFile& file) {
    if (file.IsOpen()) CloseHandle(Handle(file));
    file.handle = -1;
}

void RemoveFile(const std::string& name) { DeleteFileW(WidePath(name).c_str()); }

bool PublishFile(const std::string& temp, const std::string& name, bool replace, FileFault& fault) {
    // Without MOVEFILE_REPLACE_EXISTING an existing name makes the move fail.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(WidePath(temp).c_str(), WidePath(name).c_str(), flags)) return true;
    fault = FaultOf(GetLastError());
    DeleteFileW(WidePath(temp).c_str());
    return false;
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

bool IsHiddenFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

}  // namespace varnholt

// The log's file operations on POSIX systems.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runlog/log_file.h"

namespace varnholt {
namespace {

int Fd(const LogFile& file) { return static_cast<int>(file.handle); }

FileFault FaultOf(int error) { return {std::strerror(error), error == ENOSPC || error == EDQUOT}; }

}  // namespace

CreateOutcome CreateNewFile(const std::string& name, LogFile& file, FileFault& fault) {
    // O_EXCL: an existing log is never overwritten, whatever a listing said.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        file.handle = fd;
        return CreateOutcome::Created;
    }
    if (errno == EEXIST) return CreateOutcome::NameTaken;
    fault = FaultOf(errno);
    return CreateOutcome::Failed;
}

bool AppendDurably(LogFile& file, const std::string& text, FileFault& fault) {
    // write() may take less than asked for; a row must go out whole.
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(Fd(file), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fault = FaultOf(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fdatasync(Fd(file)) == 0) return true;
    fault = FaultOf(errno);
    return false;
}

bool TruncateFile(LogFile& file, uint64_t size) {
    return ::ftruncate(Fd(file), static_cast<off_t>(size)) == 0 &&
           ::lseek(Fd(file), static_cast<off_t>(size), SEEK_SET) >= 0 && ::fdatasync(Fd(file)) == 0;
}

void CloseFile(LogFile& file) {
    if (file.IsOpen()) ::close(Fd(file));
    file.handle = -1;
}

void RemoveFile(const std::string& name) { ::unlink(name.c_str()); }

bool PublishFile(const std::string& temp, const std::string& name, bool replace, FileFault& fault) {
    // link() fails on an existing name where rename() would replace it.
    const bool done = replace ? ::rename(temp.c_str(), name.c_str()) == 0
                              : ::link(temp.c_str(), name.c_str()) == 0;
    if (!done) {
        fault = FaultOf(errno);
        return false;
    }
    if (!replace) ::unlink(temp.c_str());
    // The new name is on disk only once its folder is.
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

bool IsHiddenFile(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return start < path.size() && path[start] == '.';
}

}  // namespace varnholt

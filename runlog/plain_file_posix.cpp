// Opening files for reading on POSIX systems: O_NONBLOCK, so that neither a
// FIFO's open nor a read of a kernel file waits, and the open file's own type.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runlog/plain_file.h"

namespace varnholt {
namespace {

std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISFIFO(mode)) return "it is a named pipe (FIFO)";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
    if (S_ISSOCK(mode)) return "it is a socket";
    return "it is not a plain file";
}

std::string Cause(int error) {
    if (error == ELOOP) return "its symbolic links lead round in a circle";
    if (error == EACCES)
        return "it cannot be opened for reading: permission denied (the file, or a folder on its "
               "path)";
    return std::string("it cannot be opened for reading: ") + std::strerror(error);
}

}  // namespace

OpenOutcome OpenPlainFile(const std::string& path, PlainFile& out, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            problem = "it does not exist";
            return OpenOutcome::Missing;
        }
        problem = Cause(error);
        return OpenOutcome::NotPlain;
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        problem = known ? KindOf(info.st_mode) : Cause(errno);
        ::close(fd);
        return OpenOutcome::NotPlain;
    }
    out.file = ::fdopen(fd, "rb");
    if (out.file == nullptr) {
        ::close(fd);
        problem = Cause(errno);
        return OpenOutcome::NotPlain;
    }
    out.size = static_cast<uint64_t>(info.st_size);
    out.id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return OpenOutcome::Opened;
}

bool StampOf(const std::string& path, FileStamp& stamp) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    stamp.id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    stamp.size = static_cast<uint64_t>(info.st_size);
    stamp.modified =
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    stamp.modifiedUnix = static_cast<int64_t>(info.st_mtim.tv_sec);
    return true;
}

bool IdentityOf(const std::string& path, FileId& id) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return true;
}

}  // namespace varnholt

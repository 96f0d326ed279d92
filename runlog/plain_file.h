#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace varnholt {

// Which file a name stands for: the same log named twice (a folder and a
// file in it, "twice" and "./twice") is one file.
struct FileId {
    uint64_t device = 0, index = 0;
    bool operator==(const FileId& o) const { return device == o.device && index == o.index; }
    bool operator!=(const FileId& o) const { return !(*this == o); }
    bool operator<(const FileId& o) const {
        return device != o.device ? device < o.device : index < o.index;
    }
};

// A file opened for reading, judged on the open file itself and not on its
// name: a FIFO or device swapped in under the name after a look at it is
// never waited on.
struct PlainFile {
    std::FILE* file = nullptr;
    uint64_t size = 0;
    FileId id;
    PlainFile() = default;
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;
    ~PlainFile() {
        if (file != nullptr) std::fclose(file);
    }
};

enum class OpenOutcome { Opened, Missing, NotPlain };

// Opens path when it is a plain file; otherwise says what was found ("it is a
// named pipe (FIFO), not a log" ...) or why it could not be opened. A
// regular file that would block a read (a kernel file such as /proc/kmsg)
// reads as an error, never as a wait.
OpenOutcome OpenPlainFile(const std::string& path, PlainFile& out, std::string& problem);

// The identity of what path names, without opening it; false when it cannot
// be had.
bool IdentityOf(const std::string& path, FileId& id);

// What a file looks like from outside (one stat, nothing opened): when it
// is unchanged, what was read of it stands.
struct FileStamp {
    FileId id;
    uint64_t size = 0;
    int64_t modified = 0;      // the system's clock, in its own units
    int64_t modifiedUnix = 0;  // the same in whole seconds since 1970 (UTC)
    bool operator==(const FileStamp& o) const {
        return id == o.id && size == o.size && modified == o.modified;
    }
};
bool StampOf(const std::string& path, FileStamp& stamp);

}  // namespace varnholt

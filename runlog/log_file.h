#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace varnholt {

// The few file operations a test log needs, with the guarantees it relies on
// on every system: a new file never replaces an existing one, and a row is on
// the disk when the write returns.
struct LogFile {
    std::intptr_t handle = -1;
    bool IsOpen() const { return handle != -1; }
};

// Why an operation failed: the system's words, and whether the disk was full
// (the one cause the operator can fix by freeing space).
struct FileFault {
    std::string message;
    bool diskFull = false;
};

enum class CreateOutcome { Created, NameTaken, Failed };

// Creates name in the working directory only if nothing has that name.
CreateOutcome CreateNewFile(const std::string& name, LogFile& file, FileFault& fault);
// Writes all of text at the end and forces it to the disk. On failure part of
// it may have been written.
bool AppendDurably(LogFile& file, const std::string& text, FileFault& fault);
// Cuts the file back to size bytes (what it held before a failed append).
bool TruncateFile(LogFile& file, uint64_t size);
void CloseFile(LogFile& file);
void RemoveFile(const std::string& name);
// Puts the finished file temp in name's place in one step: a reader sees the
// old file or the new one, never a piece. Without replace, an existing name
// is kept and the call fails.
bool PublishFile(const std::string& temp, const std::string& name, bool replace, FileFault& fault);

std::tm LocalTimeNow();

// A file the system marks hidden: a name starting with a dot on POSIX, the
// hidden or system attribute on Windows. The log numbering passes it over.
bool IsHiddenFile(const std::string& path);

}  // namespace varnholt

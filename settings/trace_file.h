#pragma once

#include <cstddef>
#include <string>

namespace varnholt {

// The wire trace rotates at this size and keeps this many older files.
constexpr size_t kTraceFileBytes = 5 * 1024 * 1024;
constexpr size_t kTraceFilesKept = 4;

// The name rotation gives the index-th older file: trace.txt, trace.1.txt ...
std::string RotatedTraceName(const std::string& file, size_t index);

// Whether [Diagnostics] TraceFile may be written and rotated: absent or a
// plain file that is already a trace, for the file and each rotated name, and
// none of them the settings file or a test log (or a log's name to come).
// Checked without opening anything, as a FIFO would block the open for good.
bool CheckTraceFile(const std::string& file, std::string& errorText);

}  // namespace varnholt

#pragma once

#include <string>

namespace varnholt {

// Records every chunk on both lines in file (kept to a few rotated files of
// bounded size): date and time to the millisecond, device, direction, bytes
// with control characters shown. Written through a buffer flushed each
// second, so a crash loses at most the last second.
bool StartWireTrace(const std::string& file, std::string& errorText);

// "OPEN<CR>", "+0<CR><LF>", "<00>": the bytes as a trace line shows them.
std::string VisibleBytes(const std::string& bytes);

}  // namespace varnholt

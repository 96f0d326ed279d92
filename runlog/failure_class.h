#pragma once

#include <string_view>

namespace varnholt {

// Whose fault a failure was. A bench fault (the supply, or one of our own
// lines going away) ends the shutter's exposure without failing it; anything
// else counts against the shutter, so that no failure is ever hidden.
enum class FailureClass { Shutter, Bench };

// error: the Error column as logged (escapes kept), e.g.
// "PowerOn Error: -222,\"Data out of range\"" or
// "OpenShutter Error: -1 Serial port 1 (/dev/ttyUSB0) was disconnected".
FailureClass ClassOfFailure(std::string_view error);

// Our own line faults, "-1 Serial port N (DEVICE) was disconnected" or
// "... is in use by another program", after any step's prefix.
bool IsLineFault(std::string_view error);

const char* FailureClassName(FailureClass kind);  // "shutter", "bench"

}  // namespace varnholt

#pragma once

#include <cstdint>
#include <string>

#include "instruments/serial_port.h"

namespace varnholt {

void BindShutterPort(SerialPort* port);
// portNumber 0 means no shutter: every later call succeeds at once.
// A port that cannot be opened fails with a plain sentence; openFailure,
// when given, receives the cause for the caller's own wording.
bool ShutterInit(int16_t portNumber, std::string& errorText, OpenFailure* openFailure = nullptr);
bool OpenShutter(std::string& errorText);
bool CloseShutter(std::string& errorText);
// Sends without waiting; the controller's reply stays in the receive buffer
// until the next OpenShutter or CloseShutter empties it.
void ShutterSend(const std::string& command);
// The last OpenShutter's or CloseShutter's move: milliseconds from the
// command's last byte on the wire to the completed "RDY", -1 when it failed.
int32_t LastMoveMilliseconds();

}  // namespace varnholt

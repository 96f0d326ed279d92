#pragma once

#include <functional>

namespace varnholt {

// Runs handler from the event loop when the program is asked to end (SIGTERM
// from a logout or systemctl, SIGINT from Ctrl-C in its terminal, SIGHUP
// when that terminal is closed), so that it ends as closing the window does.
void OnTerminationRequest(std::function<void()> handler);

}  // namespace varnholt

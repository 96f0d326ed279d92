#pragma once

namespace varnholt {

// Installs the Qt event pump behind ProcessPendingEvents: it sleeps until the
// next event (a tick, a click, serial bytes) instead of spinning, except right
// after a read that brought bytes, when the caller must look at them first.
void InstallQtEventPump();

}  // namespace varnholt

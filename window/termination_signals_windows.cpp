// Windows: a console's Ctrl-C or close, and a logoff, reach the program as
// control events on their own thread; the window is closed from the event loop.
#include <windows.h>

#include <QCoreApplication>
#include <QMetaObject>

#include "timing/clock.h"
#include "window/termination_signals.h"

namespace varnholt {
namespace {

std::function<void()> onRequest;

BOOL WINAPI OnControl(DWORD) {
    RequestShutdownFromSignal();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            if (onRequest) onRequest();
        },
        Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

void OnTerminationRequest(std::function<void()> handler) {
    onRequest = std::move(handler);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

}  // namespace varnholt

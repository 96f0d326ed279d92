#include <QApplication>

#include "sequencing/clock.h"
#include "window/event_pump.h"
#include "window/shutterform.h"
#include "window/termination_signals.h"
#include "window/wire_trace.h"
#include "sequencing/configuration.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Varnholt");
    varnholt::InstallQtEventPump();
    varnholt::OnTraceFile(varnholt::StartWireTrace);
    varnholt::ShutterForm form;
    // A logout or Ctrl-C ends a running test as a stop, sends nothing more and
    // releases the ports (and their lock files), as closing the window does.
    varnholt::OnTerminationRequest([&form] { form.close(); });
    form.Form_Load();
    // Closed during the start-up: nothing is left to run.
    if (varnholt::ShutdownRequested() || !form.isVisible()) return 0;
    return QApplication::exec();
}

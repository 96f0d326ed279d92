#include <QApplication>

#include "sequencing/clock.h"
#include "window/event_pump.h"
#include "window/shutterform.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Varnholt");
    varnholt::InstallQtEventPump();
    varnholt::ShutterForm form;
    form.Form_Load();
    // Closed during the start-up: nothing is left to run.
    if (varnholt::ShutdownRequested() || !form.isVisible()) return 0;
    return QApplication::exec();
}

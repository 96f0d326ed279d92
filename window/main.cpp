#include <QApplication>
#include <cstdio>
#include <cstring>

#include "timing/clock.h"
#include "sequencing/configuration.h"
#include "window/event_pump.h"
#include "window/shutterform.h"
#include "window/termination_signals.h"
#include "window/wire_trace.h"

namespace {

constexpr char kHelp[] =
    "Usage: varnholt [--help | --version]\n"
    "Drives an optical shutter and its power supply, and runs endurance tests.\n"
    "Reads kestrane.ini from, and writes its logs to, the folder it is started in;\n"
    "see varnholt(1) and /usr/share/doc/varnholt/examples/kestrane.ini.\n";

// The only command-line handling: everything else comes from kestrane.ini.
// Handled before Qt starts, so that it works without a display.
bool PrintedAndDone(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("varnholt %s\n", VARNHOLT_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (PrintedAndDone(argc, argv)) return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Varnholt");
    QApplication::setApplicationVersion(VARNHOLT_VERSION);
    // Ties the window to its desktop entry (task bar icon, grouping).
    QGuiApplication::setDesktopFileName("org.varnholt.Varnholt");
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

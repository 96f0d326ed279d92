#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSysInfo>
#include <cstdio>
#include <cstring>
#include <memory>

#include "monitoring/mqtt_link.h"
#include "monitoring/notifier.h"
#include "sequencing/configuration.h"
#include "sequencing/run_events.h"
#include "settings/monitoring_settings.h"
#include "timing/clock.h"
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

// The monitoring: the run's events on MQTT and the notify command, both at
// the edge of the program, started once kestrane.ini has been checked.
struct Monitoring {
    std::unique_ptr<varnholt::Notifier> notifier;
    std::unique_ptr<varnholt::MonitorFeed> feed;
    std::unique_ptr<varnholt::MqttLink> link;

    void Start(const varnholt::MonitoringSettings& settings, varnholt::ShutterForm& form) {
        if (settings.host.empty() && settings.notifyCommand.empty()) return;
        if (!settings.notifyCommand.empty()) {
            notifier = std::make_unique<varnholt::Notifier>(
                settings.notifyCommand, std::chrono::minutes(1), std::chrono::seconds(10),
                [&form](const std::string& text) { form.SetMonitoringText(text); });
        }
        feed = std::make_unique<varnholt::MonitorFeed>(
            VARNHOLT_VERSION,
            [this](const varnholt::MonitorMessage& message) {
                if (link) link->queue().Put(message);
            },
            [this](const std::string& event, const std::string& log, int64_t count,
                   const std::string& text, const std::string& unit) {
                if (notifier) notifier->Notify(event, log, count, text, unit);
            },
            settings.bench, QSysInfo::machineHostName().toStdString());
        varnholt::AddRunObserver(feed.get());
        if (settings.host.empty()) return;
        const std::string topic =
            !settings.topic.empty()
                ? settings.topic
                : "varnholt/" + varnholt::TopicLevel(QSysInfo::machineHostName().toStdString()) +
                      "/" + varnholt::TopicLevel(QDir::current().dirName().toStdString());
        // VARNHOLT_MQTT_QUEUE: a smaller bound, for the tests that fill it.
        const int limit = qEnvironmentVariableIntValue("VARNHOLT_MQTT_QUEUE");
        // VARNHOLT_MQTT_HEARTBEAT_MS: a shorter heartbeat, for the tests.
        const int heartbeat = qEnvironmentVariableIntValue("VARNHOLT_MQTT_HEARTBEAT_MS");
        link = std::make_unique<varnholt::MqttLink>(
            settings, topic, *feed,
            [&form](const std::string& text) { form.SetMonitoringText(text); },
            limit > 0 ? static_cast<size_t>(limit) : 10000,
            heartbeat > 0 ? std::chrono::milliseconds(heartbeat) : std::chrono::seconds(60));
        form.SetMonitoringText("Monitoring: connecting to " + link->Where());
    }

    ~Monitoring() {
        link.reset();  // sends what waits, then the offline status
        if (feed) varnholt::RemoveRunObserver(feed.get());
    }
};

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
    // Ends before the window: its link's thread writes the window's line.
    Monitoring monitoring;
    varnholt::OnMonitoring([&monitoring, &form](const varnholt::MonitoringSettings& settings) {
        // Two benches on one PC, or many on a lab's screen, told apart.
        form.setWindowTitle(QStringLiteral("Varnholt \u2014 ") +
                            QString::fromStdString(settings.bench));
        monitoring.Start(settings, form);
    });
    // A logout or Ctrl-C ends a running test as a stop, sends nothing more and
    // releases the ports (and their lock files), as closing the window does.
    varnholt::OnTerminationRequest([&form] { form.close(); });
    form.Form_Load();
    // Closed during the start-up: nothing is left to run.
    if (varnholt::ShutdownRequested() || !form.isVisible()) return 0;
    return QApplication::exec();
}

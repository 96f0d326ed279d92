#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "instruments/qt_serial_port.h"
#include "sequencing/status_line.h"
#include "settings/serial_devices.h"

namespace Ui {
class ShutterForm;
}

namespace varnholt {

class RunsWindow;

// The bench's only window: status line, manual controls and the two tests.
// Every handler may run nested inside another's wait (the stop click inside
// the running test, a test inside a waiting power command).
class ShutterForm : public QWidget, private StatusLine {
    Q_OBJECT

public:
    // Without ports given, the window drives real serial ports (MSComm1 for
    // the shutter, MSComm2 for the power supply).
    explicit ShutterForm(SerialPort* shutterPort = nullptr, SerialPort* powerSupplyPort = nullptr,
                         QWidget* parent = nullptr);
    ~ShutterForm() override;

    void Form_Load();

    void SetShutterControlsEnabled(bool enabled);
    void SetPowerControlsEnabled(bool enabled);
    void SetTestControlsEnabled(bool enabled);
    void SetAllControlsEnabled(bool enabled);

    // The Unit and Lot fields: taken for a run as it starts (false, with a
    // sentence on the status line, when they cannot be used), locked while
    // it runs, editable again after.
    bool TakeUnitForRun();
    void ReleaseUnitFields();
    // Under the Unit field: whether that shutter's life has already ended.
    void CheckUnitLife();
    void ShowUnitNote(const std::string& text);

    // The monitoring's one short line beside the status ("Monitoring:
    // connected to broker.lab:8883"); from any thread.
    void SetMonitoringText(const std::string& text);

    // How many handlers are running right now, nested ones included.
    int HandlersRunning() const { return handlersRunning_; }

private slots:
    void OpenCmd_Click();
    void CloseCmd_Click();
    void PowerOnCmd_Click();
    void PowerOffCmd_Click();
    void CycleTestCmd_Click();
    void PowerCutTestCmd_Click();
    void TimerAppTick_Timer();
    void RunsCmd_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShutterCommandClick(bool (*command)(std::string&));
    void PowerCommandClick(bool (*command)(std::string&));
    void SetText(const std::string& text) override;
    void SetStatus(const std::string& text) { SetText(text); }
    void WriteTickLateness();

    std::unique_ptr<Ui::ShutterForm> ui;
    QtSerialPort MSComm1{SerialDevicePath};
    QtSerialPort MSComm2{SerialDevicePath};
    SerialPort* shutterPort_;
    SerialPort* powerSupplyPort_;
    QTimer TimerAppTick;
    QElapsedTimer tickClock_;
    int64_t ticksCounted_ = 0;
    int handlersRunning_ = 0;
    RunsWindow* runsWindow_ = nullptr;
    // Asked for, made right after the next tick (see RunsCmd_Click).
    bool runsWindowWanted_ = false;
    void ShowRunsWindow();
    std::vector<int64_t> tickLateness_;  // ns, only while measured
};

// How a status text reads in the status field: CR LF and lone CR become line
// breaks, so a device reply's line end does not show as a stray box.
QString StatusDisplayText(const std::string& text);

}  // namespace varnholt

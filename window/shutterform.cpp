#include "window/shutterform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <algorithm>
#include <cstdio>

#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "report/report.h"
#include "runlog/log_writer.h"
#include "runlog/run_record.h"
#include "runlog/utf8_text.h"
#include "sequencing/configuration.h"
#include "sequencing/endurance_tests.h"
#include "sequencing/run_flags.h"
#include "sequencing/unit_under_test.h"
#include "timing/clock.h"
#include "ui_shutterform.h"
#include "window/runs_window.h"

// The icon lives in a static library's resources, which are not registered
// until asked for.
static void InitWindowResources() { Q_INIT_RESOURCE(varnholt); }

namespace varnholt {
namespace {

// A field the running test holds looks held: the window's grey, not an
// editable white, and says why when pointed at.
void LockField(QLineEdit& field, bool locked) {
    field.setReadOnly(locked);
    QPalette palette = field.palette();
    palette.setColor(QPalette::Base,
                     QApplication::palette().color(locked ? QPalette::Window : QPalette::Base));
    field.setPalette(palette);
    field.setToolTip(locked ? QStringLiteral("Held while the test runs: the run record names it.")
                            : QString());
}

// Counts a handler for as long as it runs, nested or not.
class HandlerScope {
public:
    explicit HandlerScope(int& running) : running_(running) { ++running_; }
    ~HandlerScope() { --running_; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    int& running_;
};

// One of the two test buttons: the first click runs the test to its end, a
// second click (handled inside the test's waits) asks it to stop.
void TestButtonClick(ShutterForm& form, QPushButton* own, QPushButton* other, bool& running,
                     void (*test)(), const char* idleCaption, const char* runningCaption) {
    if (running) {
        own->setEnabled(false);
        running = false;
        return;
    }
    if (!form.TakeUnitForRun()) return;
    own->setText(runningCaption);
    form.SetShutterControlsEnabled(false);
    form.SetPowerControlsEnabled(false);
    other->setEnabled(false);
    running = true;
    test();
    running = false;
    own->setText(idleCaption);
    form.ReleaseUnitFields();
    if (!ShutdownRequested()) form.SetAllControlsEnabled(true);
}

}  // namespace

QString StatusDisplayText(const std::string& text) {
    // A device's control bytes in the log's visible form; only a reply's own
    // final line end stays a line break.
    std::string shown = LogFieldText(text);
    size_t end = shown.size();
    while (end > 0 && (shown[end - 1] == '\r' || shown[end - 1] == '\n')) --end;
    if (end < shown.size()) shown.replace(end, std::string::npos, "\n");
    return QString::fromStdString(ValidUtf8(shown));
}

ShutterForm::ShutterForm(SerialPort* shutterPort, SerialPort* powerSupplyPort, QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::ShutterForm>()),
      shutterPort_(shutterPort != nullptr ? shutterPort : &MSComm1),
      powerSupplyPort_(powerSupplyPort != nullptr ? powerSupplyPort : &MSComm2) {
    InitWindowResources();
    ui->setupUi(this);
    setFixedSize(size());
    TimerAppTick.setObjectName("TimerAppTick");
    TimerAppTick.setTimerType(Qt::PreciseTimer);
    TimerAppTick.setSingleShot(true);
    TimerAppTick.setInterval(kTickMilliseconds);
    connect(&TimerAppTick, &QTimer::timeout, this, &ShutterForm::TimerAppTick_Timer);
    connect(ui->OpenCmd, &QPushButton::clicked, this, &ShutterForm::OpenCmd_Click);
    connect(ui->CloseCmd, &QPushButton::clicked, this, &ShutterForm::CloseCmd_Click);
    connect(ui->PowerOnCmd, &QPushButton::clicked, this, &ShutterForm::PowerOnCmd_Click);
    connect(ui->PowerOffCmd, &QPushButton::clicked, this, &ShutterForm::PowerOffCmd_Click);
    connect(ui->CycleTestCmd, &QPushButton::clicked, this, &ShutterForm::CycleTestCmd_Click);
    connect(ui->PowerCutTestCmd, &QPushButton::clicked, this, &ShutterForm::PowerCutTestCmd_Click);
    connect(ui->RunsCmd, &QPushButton::clicked, this, &ShutterForm::RunsCmd_Click);
}

ShutterForm::~ShutterForm() {
    WriteTickLateness();
    BindStatusLine(nullptr);
    BindShutterPort(nullptr);
    BindPowerSupplyPort(nullptr);
    InstallEventPump(nullptr);
}

// For the benchmark: VARNHOLT_TICK_LATENESS=FILE records how late each tick
// fired against its due time, written when the window goes.
void ShutterForm::WriteTickLateness() {
    const QByteArray file = qgetenv("VARNHOLT_TICK_LATENESS");
    if (file.isEmpty() || tickLateness_.empty()) return;
    if (std::FILE* out = std::fopen(file.constData(), "w")) {
        for (const int64_t ns : tickLateness_)
            std::fprintf(out, "%lld\n", static_cast<long long>(ns));
        std::fclose(out);
    }
}

void ShutterForm::Form_Load() {
    HandlerScope scope(handlersRunning_);
    ui->StatusText->setReadOnly(true);
    SetAllControlsEnabled(false);
    TimerAppTick.setInterval(kTickMilliseconds);
    TimerAppTick.start();
    tickClock_.start();
    ticksCounted_ = 0;
    if (qEnvironmentVariableIsSet("VARNHOLT_TICK_LATENESS")) tickLateness_.reserve(1 << 20);
    ResetTicksAndShutdown();
    BindShutterPort(shutterPort_);
    BindPowerSupplyPort(powerSupplyPort_);
    BindStatusLine(this);
    if (const auto last = NewestRunRecordIn(".")) {
        // A shutter whose life ended is not proposed: the next one is due.
        const std::string ended = EndedLifeOf(".", last->unit);
        if (ended.empty()) ui->UnitText->setText(QString::fromStdString(ValidUtf8(last->unit)));
        ui->LotText->setText(QString::fromStdString(ValidUtf8(last->lot)));
        ShowUnitNote(ended.empty() ? std::string() : ended + "; enter the next shutter");
    }
    connect(ui->UnitText, &QLineEdit::editingFinished, this, [this] { CheckUnitLife(); });
    show();
    ui->StatusText->setFocus();
    // Paint the window before the start-up's blocking pause.
    QCoreApplication::processEvents();

    std::string errorText;
    const bool loaded = LoadConfiguration(errorText);
    // The start-up's blocking reset pause makes one tick late on purpose.
    tickLateness_.clear();
    if (!loaded) {
        SetStatus("Configuration Error: " + errorText);
        return;
    }
    SetStatus("OK");
    if (!ShutdownRequested()) SetAllControlsEnabled(true);
}

void ShutterForm::SetShutterControlsEnabled(bool enabled) {
    ui->OpenCmd->setEnabled(enabled);
    ui->CloseCmd->setEnabled(enabled);
}

void ShutterForm::SetPowerControlsEnabled(bool enabled) {
    ui->PowerOnCmd->setEnabled(enabled);
    ui->PowerOffCmd->setEnabled(enabled);
}

void ShutterForm::SetTestControlsEnabled(bool enabled) {
    ui->CycleTestCmd->setEnabled(enabled);
    ui->PowerCutTestCmd->setEnabled(enabled);
}

void ShutterForm::SetAllControlsEnabled(bool enabled) {
    SetShutterControlsEnabled(enabled);
    SetPowerControlsEnabled(enabled);
    SetTestControlsEnabled(enabled);
}

bool ShutterForm::TakeUnitForRun() {
    const std::string unit = ui->UnitText->text().trimmed().toStdString();
    const std::string lot = ui->LotText->text().trimmed().toStdString();
    for (const std::string& problem :
         {UnitNameProblem(unit, "unit"), UnitNameProblem(lot, "lot")}) {
        if (!problem.empty()) {
            SetStatus(problem);
            return false;
        }
    }
    // Said, never refused: a re-test of a failed shutter is legitimate.
    CheckUnitLife();
    SetUnitUnderTest({unit, lot});
    for (QLineEdit* field : {ui->UnitText, ui->LotText}) LockField(*field, true);
    return true;
}

void ShutterForm::ReleaseUnitFields() {
    for (QLineEdit* field : {ui->UnitText, ui->LotText}) LockField(*field, false);
    CheckUnitLife();
}

void ShutterForm::CheckUnitLife() {
    const std::string ended = EndedLifeOf(".", ui->UnitText->text().trimmed().toStdString());
    ShowUnitNote(ended.empty() ? std::string()
                               : ended + "; its runs from now add nothing to its life");
}

void ShutterForm::ShowUnitNote(const std::string& text) {
    const QString shown = QString::fromStdString(ValidUtf8(text));
    ui->UnitNote->setText(shown);
    ui->UnitNote->setToolTip(shown);
}

void ShutterForm::OpenCmd_Click() { ShutterCommandClick(&OpenShutter); }

void ShutterForm::CloseCmd_Click() { ShutterCommandClick(&CloseShutter); }

void ShutterForm::PowerOnCmd_Click() { PowerCommandClick(&PowerOn); }

void ShutterForm::PowerOffCmd_Click() { PowerCommandClick(&PowerOff); }

// A shutter command takes up to 10 s and locks the shutter and test buttons;
// the power buttons stay usable, and their handlers may run inside it.
void ShutterForm::ShutterCommandClick(bool (*command)(std::string&)) {
    HandlerScope scope(handlersRunning_);
    SetShutterControlsEnabled(false);
    SetTestControlsEnabled(false);
    std::string errorText;
    SetStatus(command(errorText) ? "OK" : "Shutter Error: " + errorText);
    if (ShutdownRequested()) return;
    SetShutterControlsEnabled(true);
    SetTestControlsEnabled(true);
}

void ShutterForm::PowerCommandClick(bool (*command)(std::string&)) {
    HandlerScope scope(handlersRunning_);
    SetPowerControlsEnabled(false);
    std::string errorText;
    SetStatus(command(errorText) ? "OK" : "Power Supply Error: " + errorText);
    if (!ShutdownRequested()) SetPowerControlsEnabled(true);
}

void ShutterForm::CycleTestCmd_Click() {
    HandlerScope scope(handlersRunning_);
    TestButtonClick(*this, ui->CycleTestCmd, ui->PowerCutTestCmd, CycleTestRunning(), &CycleTest,
                    "Start Cycle Test", "Stop Cycle Test");
}

void ShutterForm::PowerCutTestCmd_Click() {
    HandlerScope scope(handlersRunning_);
    TestButtonClick(*this, ui->PowerCutTestCmd, ui->CycleTestCmd, PowerCutTestRunning(),
                    &PowerCutTest, "Start Power Test", "Stop Power Test");
}

void ShutterForm::SetMonitoringText(const std::string& text) {
    const QString shown = QString::fromStdString(ValidUtf8(text));
    QMetaObject::invokeMethod(
        this,
        [this, shown] {
            // Cut at the label's edge with "…", never mid-word unmarked; the
            // whole line stays in the tooltip.
            QLabel* label = ui->MonitoringText;
            label->setText(label->fontMetrics().elidedText(shown, Qt::ElideRight, label->width()));
            label->setToolTip(shown);
        },
        Qt::QueuedConnection);
}

// Opened at any time, a test running or not: it reads on a thread of its own.
void ShutterForm::RunsCmd_Click() {
    // Making the window and painting it first take several milliseconds of
    // this thread, enough to hold a tick due meanwhile: it is made right
    // after the next tick instead, with 100 ms to the one after.
    if (runsWindow_ == nullptr) {
        runsWindowWanted_ = true;
        return;
    }
    ShowRunsWindow();
}

void ShutterForm::ShowRunsWindow() {
    if (runsWindow_ == nullptr) {
        runsWindow_ = new RunsWindow(this);
        runsWindow_->setWindowIcon(windowIcon());
        // Beside the bench window, which stays in view.
        runsWindow_->move(frameGeometry().topRight() + QPoint(8, 0));
    }
    runsWindow_->show();
    runsWindow_->raise();
    runsWindow_->activateWindow();
}

void ShutterForm::TimerAppTick_Timer() {
    // Counted from a steady clock: ticks that fell due while the program was
    // blocked (the supply's reset pause) are counted late, not lost, and the
    // timer is re-armed for the next whole tick so its lateness never adds up.
    const int64_t elapsedNs = tickClock_.nsecsElapsed();
    constexpr int64_t kTickNs = int64_t{kTickMilliseconds} * 1'000'000;
    if (tickLateness_.capacity() > 0)
        tickLateness_.push_back(elapsedNs - (ticksCounted_ + 1) * kTickNs);
    while (ticksCounted_ < elapsedNs / kTickNs) {
        ++ticksCounted_;
        AddAppTick();
    }
    const int64_t untilNextNs = (ticksCounted_ + 1) * kTickNs - tickClock_.nsecsElapsed();
    TimerAppTick.start(static_cast<int>(std::max<int64_t>(1, (untilNextNs + 999'999) / 1'000'000)));
    // The Runs window's work on this thread, right after a tick.
    if (runsWindow_ != nullptr) runsWindow_->AfterTick();
    if (runsWindowWanted_) {
        runsWindowWanted_ = false;
        ShowRunsWindow();
    }
}

void ShutterForm::closeEvent(QCloseEvent* event) {
    if (runsWindow_ != nullptr) runsWindow_->close();
    if (handlersRunning_ > 0) {
        // A test or command is waiting further down the stack: make it end as
        // if stopped and send nothing more; the program exits once it unwinds.
        RequestShutdown();
        CycleTestRunning() = false;
        PowerCutTestRunning() = false;
        QCoreApplication::quit();
    }
    event->accept();
}

void ShutterForm::SetText(const std::string& text) {
    ui->StatusText->setPlainText(StatusDisplayText(text));
}

}  // namespace varnholt

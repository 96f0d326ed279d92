#pragma once

#include <QDoubleSpinBox>
#include <QLabel>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "report/report.h"
#include "sequencing/run_events.h"

namespace varnholt {

// What the reading thread hands the window: every run's figures, the folder
// total, problems, and the selected run's series for its charts.
struct RunsSnapshot {
    std::vector<RunFigures> runs;
    std::vector<ReportProblem> problems;
    std::string selected;
    std::shared_ptr<const RunAccumulator> series;  // null: unchanged since the last snapshot
    UnitsAndLots unitsAndLots;  // worked out here, off the window's thread
};

// Reads the bench folder's logs on its own thread, each only as far as it
// grew since the last look, so the running test's tick never waits on it.
class RunsReader : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    void Refresh(const QString& selected);
    // The window dropped its charts (another run selected): send them again.
    void ForgetSeries();
signals:
    void Ready(std::shared_ptr<const RunsSnapshot> snapshot);

private:
    std::map<std::string, std::unique_ptr<RunFile>> files_;
    // The series last handed over: not copied again while unchanged.
    std::string sentPath_;
    uint64_t sentBytes_ = 0;
};

class RunChartsView : public QWidget {
public:
    explicit RunChartsView(QWidget* parent = nullptr) : QWidget(parent) {}
    void Show(std::shared_ptr<const RunAccumulator> series);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const RunAccumulator> series_;
};

// A lot's Weibull plot, for the Units view.
class WeibullView : public QWidget {
public:
    explicit WeibullView(QWidget* parent = nullptr) : QWidget(parent) {}
    void Show(std::optional<LotFigures> lot);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<LotFigures> lot_;
};

// The runs of the bench folder, newest first, the running one marked and
// brought up to date as its rows arrive, with the folder total and the
// selected run's charts.
class RunsWindow : public QWidget, private RunObserver {
    Q_OBJECT
public:
    explicit RunsWindow(QWidget* parent = nullptr);
    ~RunsWindow() override;

signals:
    void RefreshWanted(const QString& selected);
    void ForgetSeries();

private:
    void OnRunStarted(const RunStarted& event) override;
    void OnRowWritten(const RowWritten& event) override;
    void OnRunEnded(const RunEnded& event) override;
    void Show(const std::shared_ptr<const RunsSnapshot>& snapshot);
    void AskSoon();
    QString Selected() const;
    void ShowUnits();

    QTreeWidget* list_;
    QLabel* total_;
    RunChartsView* charts_;
    // The Units view: the folder's shutters, the lot's figures and its plan.
    QTabWidget* tabs_;
    QTreeWidget* units_;
    QLabel* lotText_;
    QDoubleSpinBox *planTarget_, *planReliability_, *planConfidence_, *planBeta_;
    QStackedWidget* right_;
    WeibullView* weibull_;
    std::shared_ptr<const RunsSnapshot> last_;
    std::string runningLot_;
    QThread thread_;
    RunsReader* reader_;
    QTimer soon_;
    std::string running_;
    bool asked_ = false;  // a refresh is on its way: ask again when it is back
    bool again_ = false;
};

}  // namespace varnholt

#pragma once

#include <QDoubleSpinBox>
#include <QFileSystemWatcher>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/report.h"
#include "sequencing/run_events.h"
#include "window/run_row.h"
#include "window/runs_model.h"

namespace varnholt {

// What the reading thread hands the window: every run's figures, the folder
// total, problems, and the selected run's series for its charts.
struct RunsSnapshot {
    // reset: every run, newest first, in runs. Else the logs are those of
    // the last snapshot, in its order, and changed holds the runs whose
    // figures changed, by row.
    bool reset = true;
    std::vector<std::shared_ptr<const RunRow>> runs;
    std::vector<std::pair<size_t, std::shared_ptr<const RunRow>>> changed;
    std::vector<std::pair<TestLogKind, TotalFigures>> totals;
    std::vector<ReportProblem> problems;
    std::string selected;
    // The selected run's charts, drawn on the reading thread at the size
    // asked for; null: unchanged since the last snapshot.
    std::shared_ptr<const QImage> charts;
    // The selected log grew but its charts were drawn too lately to draw
    // again: the window asks once more, later.
    bool chartsLater = false;
    // Worked out here, off the window's thread, while the Units view is open;
    // the same object while no run changed.
    std::shared_ptr<const UnitsAndLots> unitsAndLots;
};

// Reads the bench folder's logs on its own thread, each only as far as it
// grew since the last look, so the running test's tick never waits on it.
class RunsReader : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The charts' least font, set before the reader moves to its thread.
    QFont chartFont;
public slots:
    // running: the log of the test in progress, or empty. chartSize: the
    // charts' view, in pixels. units: the units and lots are wanted (the
    // Units view is open); else they are not worked out at all.
    void Refresh(const QString& selected, const QString& running, const QSize& chartSize,
                 bool units);
    // The window dropped its charts (another run selected): send them again.
    void ForgetSeries();
signals:
    void Ready(std::shared_ptr<const RunsSnapshot> snapshot);

public:
    // Logs looked at (a stat at least) by the last Refresh.
    size_t LastLooked() const { return looked_; }

private:
    // The whole folder is looked at again when a file was made, removed or
    // renamed in it (its own time changed), and every few minutes for logs
    // changed in place by another program; between those, only the logs
    // being written or shown.
    bool FullPassDue();

    // What the folder's listing found.
    std::vector<ReportProblem> listProblems_;
    std::filesystem::file_time_type folderStamp_{};
    std::chrono::steady_clock::time_point lastFull_{};
    bool anyFull_ = false;
    size_t looked_ = 0;
    // The logs in report order, each with what its last look gave. A
    // finished log rests as its row and its files' stamps: between full
    // passes it costs a look at these few bytes, and on a full pass three
    // stats, so the window follows a log among 20,000 for the price of that
    // log and holds the 20,000 in some 400 bytes each.
    struct Kept {
        std::unique_ptr<RunFile> file;      // null while it rests
        std::shared_ptr<const RunRow> row;  // null: it could not be read
        RunStamps stamps;                   // while it rests: as last read
        uint64_t rowVersion = 0;            // of the file, when the row was made
        // The earlier log of the same test and number at the last full
        // pass, or -1; its sentence comes first among the log's.
        int32_t sameNumberAs = -1;
        bool numberSaid = false;
        std::string_view Name() const {
            return file ? std::string_view(file->path()) : row->file();
        }
    };
    // was: for each log listed, its place before, or -1.
    std::vector<std::string> Relist(std::vector<int64_t>& was);
    // The shown log's charts, drawn again when it was not drawn at this
    // size yet, or grew and was not drawn lately.
    void DrawChartsIfDue(const RunFile& file, const QSize& chartSize, RunsSnapshot& snapshot);
    // The place of a log by its name (fresh: the names new to this pass).
    uint32_t IndexOf(const std::string& path, const std::vector<std::string>& fresh,
                     uint32_t& hint) const;
    std::vector<Kept> logs_;
    std::vector<ReportProblem> problems_;  // of the last look, by log
    // Log i's sentences are problems_[problemAt_[i], problemAt_[i + 1]).
    std::vector<uint32_t> problemAt_;
    std::vector<uint8_t> resting_;       // whether log i rests
    std::vector<uint32_t> newestFirst_;  // the logs with rows
    std::vector<uint32_t> positionOf_;   // of each log in newestFirst_
    // The counts of the runs sent, by test kind.
    static size_t KindIndex(TestLogKind kind);
    TotalFigures totalOf_[2];
    uint32_t selectedHint_ = 0, runningHint_ = 0;
    // The units and lots, worked out again only when a run changed.
    size_t unitsFiles_ = 0;
    std::shared_ptr<const UnitsAndLots> units_;
    // The runs as last handed over, in their order.
    std::vector<std::shared_ptr<const RunRow>> sent_;
    // The charts last handed over: not drawn again while unchanged.
    std::string sentPath_;
    uint64_t sentBytes_ = 0;
    QSize sentSize_;
    std::chrono::steady_clock::time_point sentAt_;
};

// Shows charts drawn elsewhere; the window's thread only copies pixels.
class RunChartsView : public QWidget {
public:
    explicit RunChartsView(QWidget* parent = nullptr) : QWidget(parent) {}
    void Show(std::shared_ptr<const QImage> charts);
    std::function<void()> resized;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::shared_ptr<const QImage> charts_;
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
    // Called right after each of the bench's ticks: from the first call on,
    // a snapshot from the reader waits for the next tick to be shown, so
    // the model's change and the rows' paint never hold a tick due meanwhile.
    void AfterTick();

signals:
    void RefreshWanted(const QString& selected, const QString& running, const QSize& chartSize,
                       bool units);
    void ForgetSeries();

private:
    void OnRunStarted(const RunStarted& event) override;
    void OnRowWritten(const RowWritten& event) override;
    void OnRunEnded(const RunEnded& event) override;
    void Show(const std::shared_ptr<const RunsSnapshot>& snapshot);
    void AskSoon();
    void TitleSelected();
    QString Selected() const;
    void ShowUnits();  // the units' list, when they changed
    void ShowLot();    // the selected unit's lot, its figures and plan

    QTableView* list_;
    RunsModel* model_;
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
    std::shared_ptr<const UnitsAndLots> unitsShown_;
    bool sized_ = false, unitsSized_ = false;
    QFileSystemWatcher watcher_;
    QThread thread_;
    RunsReader* reader_;
    QTimer soon_;
    std::string running_;
    bool asked_ = false;  // a refresh is on its way: ask again when it is back
    bool again_ = false;
    bool paced_ = false;                           // by the bench's ticks
    std::shared_ptr<const RunsSnapshot> waiting_;  // to be shown after the next tick
};

}  // namespace varnholt

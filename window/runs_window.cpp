#include "window/runs_window.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "charts/run_charts.h"
#include "charts/weibull_plot.h"
#include "reliability/weibull.h"
#include "sequencing/unit_under_test.h"
#include "window/background_thread.h"
#include "window/display_text.h"

namespace varnholt {
namespace {

// Bursts of rows (a fast bench) are read together.
constexpr int kRefreshDelayMs = 300;
// A growing log's charts are drawn again at most this often, and less often
// the longer it is: one more row among a million changes no pixel (a pixel
// is some 1,700 rows of it), and drawing them all is most of the cost of
// following a long log. 5 s up to 100,000 rows, then 5 s for each 100,000,
// at most a minute.
std::chrono::milliseconds ChartsEvery(size_t rows) {
    const auto ms = static_cast<int64_t>(rows / 20);  // 5,000 ms each 100,000 rows
    return std::chrono::milliseconds(std::clamp<int64_t>(ms, 5000, 60000));
}
constexpr int kChartsLaterMs = 5500;
// A new, removed or renamed log is seen by the folder's watcher and the
// running test's rows by its events; only a log that another program changes
// in place needs a look now and then (a stat a log: a quarter of a second of
// the reading thread for 20,000 logs).
constexpr int kIdleRefreshMs = 5 * 60 * 1000;
constexpr size_t kProblemsShown = 20;
// Just under the window's idle look, so that look is a full pass.
constexpr auto kFullPassEvery = std::chrono::seconds(kIdleRefreshMs / 1000 - 10);

}  // namespace

void RunsReader::ForgetSeries() { sentPath_.clear(); }

bool RunsReader::FullPassDue() {
    std::error_code error;
    const auto stamp = std::filesystem::last_write_time(".", error);
    const auto now = std::chrono::steady_clock::now();
    // A folder changed within the last two seconds may change again within
    // its file system's clock step (two seconds on FAT) unseen.
    const bool due =
        !anyFull_ || error || stamp != folderStamp_ || now - lastFull_ >= kFullPassEvery ||
        std::filesystem::file_time_type::clock::now() - stamp < std::chrono::seconds(2);
    if (due) {
        anyFull_ = true;
        folderStamp_ = stamp;
        lastFull_ = now;
    }
    return due;
}

std::vector<std::string> RunsReader::Relist(std::vector<int64_t>& was) {
    listProblems_.clear();
    std::vector<std::string> order = LogFilesIn(".", listProblems_);
    std::unordered_map<std::string_view, uint32_t> at;
    at.reserve(logs_.size());
    for (uint32_t i = 0; i < logs_.size(); ++i) at.emplace(logs_[i].Name(), i);
    std::vector<Kept> next;
    next.reserve(order.size());
    was.assign(order.size(), -1);
    for (size_t i = 0; i < order.size(); ++i) {
        const auto it = at.find(order[i]);
        if (it != at.end()) {
            next.push_back(std::move(logs_[it->second]));
            was[i] = it->second;
            order[i].clear();
        } else {
            next.emplace_back();  // its RunFile is made when it is read
        }
    }
    logs_ = std::move(next);
    return order;
}

size_t RunsReader::KindIndex(TestLogKind kind) { return kind == TestLogKind::CycleTest ? 0 : 1; }

uint32_t RunsReader::IndexOf(const std::string& path, const std::vector<std::string>& fresh,
                             uint32_t& hint) const {
    if (path.empty()) return UINT32_MAX;
    const auto name = [&](uint32_t i) -> std::string_view {
        const Kept& log = logs_[i];
        return log.file || log.row ? log.Name() : std::string_view(fresh[i]);
    };
    if (hint < logs_.size() && name(hint) == path) return hint;
    for (uint32_t i = 0; i < logs_.size(); ++i) {
        if (name(i) == path) return hint = i;
    }
    return UINT32_MAX;
}

void RunsReader::DrawChartsIfDue(const RunFile& file, const QSize& chartSize,
                                 RunsSnapshot& snapshot) {
    const bool grown = file.BytesRead() != sentBytes_;
    const bool drawnLately =
        std::chrono::steady_clock::now() - sentAt_ < ChartsEvery(file.series().intervals.size());
    const bool same = file.path() == sentPath_ && chartSize == sentSize_;
    if (same && grown && drawnLately) snapshot.chartsLater = true;
    if (same && !(grown && !drawnLately)) return;
    // Decimated and laid out here, off the window's thread.
    auto image = std::make_shared<QImage>(chartSize, QImage::Format_RGB32);
    image->fill(Qt::white);
    QPainter painter(image.get());
    painter.setFont(chartFont);
    const double third = chartSize.height() / 3.0;
    int at = 0;
    for (const RunChart chart : kRunCharts) {
        DrawRunChart(painter, QRectF(0, at++ * third, chartSize.width(), third - 4), chart,
                     file.series());
    }
    painter.end();
    snapshot.charts = std::move(image);
    sentPath_ = file.path();
    sentBytes_ = file.BytesRead();
    sentSize_ = chartSize;
    sentAt_ = std::chrono::steady_clock::now();
}

void RunsReader::Refresh(const QString& selected, const QString& running, const QSize& chartSize,
                         bool units) {
    auto snapshot = std::make_shared<RunsSnapshot>();
    snapshot->selected = selected.toStdString();
    const bool full = FullPassDue();
    // The names of logs new to this pass, by place; each one's RunFile is
    // made only as it is read and let go of as soon as it rests, so a first
    // look at 20,000 logs never holds 20,000 readers.
    std::vector<std::string> fresh;
    // Each log's place in the last look (its sentences there), or -1.
    std::vector<int64_t> listedAt;
    if (full) fresh = Relist(listedAt);
    const uint32_t selectedAt = chartSize.isValid() && !chartSize.isEmpty()
                                    ? IndexOf(snapshot->selected, fresh, selectedHint_)
                                    : UINT32_MAX;
    const uint32_t runningAt = IndexOf(running.toStdString(), fresh, runningHint_);
    std::vector<ReportProblem> problems = listProblems_;
    std::map<std::pair<TestLogKind, int64_t>, uint32_t> firstOfNumber;  // full passes only
    bool reorder = full;
    // The logs whose rows are new, with what they were.
    std::vector<std::pair<uint32_t, std::shared_ptr<const RunRow>>> renewed;
    looked_ = 0;
    // Where each log's sentences begin in this look's problems. Kept apart
    // from the logs, with whether each rests, so that a look between full
    // passes walks two small arrays, not 20,000 logs' worth of memory.
    std::vector<uint32_t> sentencesAt(logs_.size() + 1);
    resting_.resize(logs_.size());
    for (uint32_t i = 0; i < logs_.size(); ++i) {
        sentencesAt[i] = static_cast<uint32_t>(problems.size());
        const bool chartsWanted = i == selectedAt;
        const bool isRunning = i == runningAt;
        const int64_t before = full ? listedAt[i] : i;
        if (!full && resting_[i] && !chartsWanted && !isRunning) {
            problems.insert(problems.end(), problems_.begin() + problemAt_[i],
                            problems_.begin() + problemAt_[i + 1]);
            continue;
        }
        Kept& log = logs_[i];
        // The window is closing: it waits for no more than the log in hand.
        // Half a pass is not kept; a next look would begin again.
        if (QThread::currentThread()->isInterruptionRequested()) {
            logs_.clear();
            problems_.clear();
            problemAt_.clear();
            resting_.clear();
            newestFirst_.clear();
            sent_.clear();
            anyFull_ = false;
            return;
        }
        ++looked_;
        const std::string name = log.file || log.row ? std::string(log.Name()) : fresh[i];
        // A resting log whose files look as they did keeps its row and its
        // own sentences; else (and a log new to this pass) it is read from
        // its start.
        const bool unchanged =
            !log.file && log.row && !chartsWanted && RunFile::StampsNow(name) == log.stamps;
        if (!log.file && !unchanged) {
            log.file = std::make_unique<RunFile>(".", name, Spreads::LeftOut);
            log.rowVersion = 0;
        }
        std::shared_ptr<const RunRow> row = log.row;
        std::vector<ReportProblem> own;
        bool ownKept = unchanged;
        if (log.file) {
            RunFile* file = log.file.get();
            if (chartsWanted) file->Warm();
            if (!file->Refresh()) {
                row = nullptr;
                own.push_back({name, file->problem});
            } else if (!row || file->Version() != log.rowVersion) {
                const std::shared_ptr<const RunFigures> figures = file->SharedFigures();
                row = std::make_shared<const RunRow>(*figures);
                log.rowVersion = file->Version();
                LogNumbers none;
                AddRunProblems(name, *figures, file->recordProblem, none, own);
            } else {
                ownKept = true;
            }
        }
        if (ownKept && before >= 0) {
            const auto b = static_cast<size_t>(before);
            own.assign(problems_.begin() + problemAt_[b] + (log.numberSaid ? 1 : 0),
                       problems_.begin() + problemAt_[b + 1]);
        }
        if (full) log.sameNumberAs = -1;
        if (row) {
            const std::pair<TestLogKind, int64_t> number(row->kind, TestLogNumber(name));
            if (full) {
                const auto [first, isFirst] = firstOfNumber.try_emplace(number, i);
                if (!isFirst) log.sameNumberAs = static_cast<int32_t>(first->second);
            }
        }
        log.numberSaid = false;
        if (row && log.sameNumberAs >= 0) {
            const Kept& first = logs_[static_cast<size_t>(log.sameNumberAs)];
            if (first.row && first.row->kind == row->kind) {
                problems.push_back({name, SameNumberProblem(name, std::string(first.Name()))});
                log.numberSaid = true;
            }
        }
        problems.insert(problems.end(), std::make_move_iterator(own.begin()),
                        std::make_move_iterator(own.end()));
        if (row && (!log.row || log.row->started != row->started)) reorder = true;
        if (!row && log.row) reorder = true;
        if (row != log.row) renewed.emplace_back(i, log.row);
        log.row = std::move(row);
        resting_[i] = !log.file;
        if (!log.file) continue;
        RunFile* file = log.file.get();
        if (chartsWanted && log.row) DrawChartsIfDue(*file, chartSize, *snapshot);
        // A log that has not grown since it was first read rests as its row;
        // it is read again only if it changes. A log that could not be read
        // never rests.
        if (!chartsWanted && !file->Grew() && !isRunning) {
            file->Compact();
            if (file->Compacted()) {
                log.stamps = file->Stamps();
                log.file.reset();
                resting_[i] = true;
            }
        }
    }
    sentencesAt[logs_.size()] = static_cast<uint32_t>(problems.size());
    problemAt_ = std::move(sentencesAt);
    problems_ = problems;
    snapshot->problems = std::move(problems);
    if (!reorder && sent_.size() == newestFirst_.size()) {
        // The same logs in the same order: only the runs that changed are
        // sent, so the window's thread touches those rows alone, and the
        // totals change by those runs alone.
        snapshot->reset = false;
        for (const auto& [i, was] : renewed) {
            const std::shared_ptr<const RunRow>& now = logs_[i].row;
            snapshot->changed.emplace_back(positionOf_[i], now);
            sent_[positionOf_[i]] = now;
            AddToTotal(totalOf_[KindIndex(was->kind)], *was, -1);
            AddToTotal(totalOf_[KindIndex(now->kind)], *now, 1);
        }
    } else {
        if (reorder) {
            // Newest first; runs started in the same second stay in report order.
            std::vector<std::pair<int64_t, uint32_t>> started;
            started.reserve(logs_.size());
            for (uint32_t i = 0; i < logs_.size(); ++i) {
                if (logs_[i].row) started.emplace_back(logs_[i].row->started, i);
            }
            std::stable_sort(started.begin(), started.end(),
                             [](const auto& a, const auto& b) { return a.first > b.first; });
            newestFirst_.clear();
            newestFirst_.reserve(started.size());
            for (const auto& [when, i] : started) newestFirst_.push_back(i);
        }
        positionOf_.assign(logs_.size(), UINT32_MAX);
        totalOf_[0] = totalOf_[1] = TotalFigures{};
        snapshot->runs.reserve(newestFirst_.size());
        for (uint32_t at = 0; at < newestFirst_.size(); ++at) {
            const Kept& log = logs_[newestFirst_[at]];
            positionOf_[newestFirst_[at]] = at;
            snapshot->runs.push_back(log.row);
            AddToTotal(totalOf_[KindIndex(log.row->kind)], *log.row, 1);
        }
        sent_ = snapshot->runs;
    }
    for (const TestLogKind kind : {TestLogKind::CycleTest, TestLogKind::PowerCutTest}) {
        TotalFigures total = totalOf_[KindIndex(kind)];
        WorkOutTotal(total);
        if (total.runs > 0) snapshot->totals.emplace_back(kind, total);
    }
    if (!units) {
        units_.reset();
    } else if (!units_ || !renewed.empty() || logs_.size() != unitsFiles_) {
        // The rows' figures, for this while: a row keeps what units are made of.
        std::vector<RunFigures> all;
        all.reserve(sent_.size());
        for (const auto& run : sent_) all.push_back(run->Figures("."));
        units_ = std::make_shared<const UnitsAndLots>(BuildUnitsAndLots(all, 2.0));
        unitsFiles_ = logs_.size();
    }
    snapshot->unitsAndLots = units_;
    emit Ready(snapshot);
}

void RunChartsView::Show(std::shared_ptr<const QImage> charts) {
    charts_ = std::move(charts);
    update();
}

void RunChartsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!charts_) {
        painter.drawText(rect(), Qt::AlignCenter,
                         QStringLiteral("Select a run to see its charts."));
        return;
    }
    painter.drawImage(QPointF(0, 0), *charts_);
}

void RunChartsView::resizeEvent(QResizeEvent*) {
    if (resized) resized();
}

void WeibullView::Show(std::optional<LotFigures> lot) {
    lot_ = std::move(lot);
    update();
}

void WeibullView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!lot_) {
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Select a unit to see its lot."));
        return;
    }
    QFont small = font();
    small.setPointSizeF(std::max(7.0, font().pointSizeF() * 0.85));
    painter.setFont(small);
    DrawWeibullPlot(painter, QRectF(rect()), *lot_);
}

RunsWindow::RunsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("RunsWindow"));
    setWindowTitle(QStringLiteral("Varnholt: Runs"));
    resize(1240, 760);
    model_ = new RunsModel(this);
    // A table, not a tree: a tree finds the row of a changed cell by a walk
    // through every row from the last one it looked at, and the running
    // test's row at the top is changed at every cycle (measured: up to 8 ms
    // of the window's thread a row over 20,000 logs).
    list_ = new QTableView;
    list_->setObjectName(QStringLiteral("RunsList"));
    list_->setShowGrid(false);
    list_->setWordWrap(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setMinimumSectionSize(list_->fontMetrics().height());
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 2);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The last column takes what the others leave, but never less than the
    // default size: the usual 100 pixels pushed it past the edge.
    list_->horizontalHeader()->setDefaultSectionSize(
        list_->horizontalHeader()->minimumSectionSize());
    list_->setModel(model_);
    // The arrow keys go through the runs as soon as the window opens.
    list_->setFocus();
    // Measured once, when the first runs arrive, from the first rows only.
    list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    list_->horizontalHeader()->setResizeContentsPrecision(64);
    list_->horizontalHeader()->setStretchLastSection(true);
    total_ = new QLabel;
    total_->setObjectName(QStringLiteral("RunsTotal"));
    total_->setWordWrap(true);
    charts_ = new RunChartsView;
    charts_->setMinimumWidth(520);
    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(list_);
    leftLayout->addWidget(total_);
    units_ = new QTreeWidget;
    units_->setObjectName(QStringLiteral("UnitsList"));
    units_->setRootIsDecorated(false);
    units_->setHeaderLabels({QStringLiteral("Unit"), QStringLiteral("Lot"), QStringLiteral("Test"),
                             QStringLiteral("Runs"), QStringLiteral("Cycles"),
                             QStringLiteral("State"), QStringLiteral("Bench faults")});
    units_->header()->setSectionResizeMode(QHeaderView::Interactive);
    lotText_ = new QLabel;
    lotText_->setObjectName(QStringLiteral("LotFigures"));
    lotText_->setWordWrap(true);
    lotText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const auto spin = [](const char* name, double low, double high, double value, int decimals) {
        auto* box = new QDoubleSpinBox;
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(low, high);
        box->setDecimals(decimals);
        box->setValue(value);
        return box;
    };
    planTarget_ = spin("PlanTarget", 1, 1e12, 1e6, 0);
    planTarget_->setGroupSeparatorShown(true);
    planReliability_ = spin("PlanReliability", 0.5, 0.9999, 0.90, 4);
    planConfidence_ = spin("PlanConfidence", 0.5, 0.9999, 0.90, 4);
    planBeta_ = spin("PlanBeta", 0.1, 20, 2.0, 2);
    planReliability_->setSingleStep(0.01);
    planConfidence_->setSingleStep(0.01);
    planBeta_->setSingleStep(0.1);
    auto* plan = new QHBoxLayout;
    plan->addWidget(new QLabel(QStringLiteral("Plan: target")));
    plan->addWidget(planTarget_);
    plan->addWidget(new QLabel(QStringLiteral("cycles, reliability")));
    plan->addWidget(planReliability_);
    plan->addWidget(new QLabel(QStringLiteral("confidence")));
    plan->addWidget(planConfidence_);
    plan->addWidget(new QLabel(QStringLiteral("\u03b2")));
    plan->addWidget(planBeta_);
    plan->addStretch(1);
    for (QDoubleSpinBox* box : {planTarget_, planReliability_, planConfidence_, planBeta_}) {
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { ShowUnits(); });
    }
    auto* unitsPage = new QWidget;
    auto* unitsLayout = new QVBoxLayout(unitsPage);
    unitsLayout->setContentsMargins(0, 0, 0, 0);
    unitsLayout->addWidget(units_, 1);
    unitsLayout->addLayout(plan);
    unitsLayout->addWidget(lotText_);
    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("RunsTabs"));
    tabs_->addTab(left, QStringLiteral("Runs"));
    tabs_->addTab(unitsPage, QStringLiteral("Units"));
    weibull_ = new WeibullView;
    weibull_->setObjectName(QStringLiteral("WeibullPlot"));
    right_ = new QStackedWidget;
    right_->addWidget(charts_);
    right_->addWidget(weibull_);
    connect(tabs_, &QTabWidget::currentChanged, right_, &QStackedWidget::setCurrentIndex);
    connect(tabs_, &QTabWidget::currentChanged, this, [this] {
        ShowUnits();
        AskSoon();
    });
    connect(units_, &QTreeWidget::currentItemChanged, this, [this] { ShowUnits(); });
    auto* split = new QSplitter;
    split->addWidget(tabs_);
    split->addWidget(right_);
    split->setStretchFactor(1, 1);
    // The runs' columns in full at the window's size; the charts take the rest.
    split->setSizes({700, 500});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);

    qRegisterMetaType<std::shared_ptr<const RunsSnapshot>>();
    qRegisterMetaType<QSize>();
    reader_ = new RunsReader;
    reader_->chartFont = font();
    // The window's small font: what a status line or a tooltip uses.
    reader_->chartFont.setPointSizeF(std::max(7.0, font().pointSizeF() * 0.85));
    reader_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, reader_, &QObject::deleteLater);
    connect(this, &RunsWindow::RefreshWanted, reader_, &RunsReader::Refresh);
    connect(this, &RunsWindow::ForgetSeries, reader_, &RunsReader::ForgetSeries);
    // One snapshot at most is on its way (the next is asked for once it is
    // shown), so one waits at most.
    connect(reader_, &RunsReader::Ready, this,
            [this](const std::shared_ptr<const RunsSnapshot>& snapshot) {
                if (paced_) {
                    waiting_ = snapshot;
                } else {
                    Show(snapshot);
                }
            });
    connect(
        &thread_, &QThread::started, reader_, [] { YieldToEveryOtherThread(); },
        Qt::DirectConnection);
    thread_.start(QThread::LowPriority);
    soon_.setSingleShot(true);
    connect(&soon_, &QTimer::timeout, this, [this] {
        if (asked_) {
            again_ = true;
            return;
        }
        asked_ = true;
        emit RefreshWanted(Selected(), QString::fromStdString(running_), charts_->size(),
                           tabs_->currentIndex() == 1);
        soon_.start(kIdleRefreshMs);
    });
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        TitleSelected();
        charts_->Show(nullptr);
        emit ForgetSeries();
        AskSoon();
    });
    charts_->resized = [this] {
        emit ForgetSeries();
        AskSoon();
    };
    // Logs made, removed or renamed in the folder by any program.
    watcher_.addPath(QStringLiteral("."));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { AskSoon(); });
    AddRunObserver(this);
    RunStarted run;
    if (RunInProgress(run)) {
        running_ = run.log;
        runningLot_ = run.lot;
    }
    soon_.start(0);
}

RunsWindow::~RunsWindow() {
    RemoveRunObserver(this);
    thread_.requestInterruption();
    thread_.quit();
    thread_.wait();
}

QString RunsWindow::Selected() const {
    const QModelIndex current = list_->currentIndex();
    return current.isValid() ? current.data(RunsModel::kLogRole).toString() : QString();
}

// The title names the log shown: the operator's task bar, and a script that
// drives the window, see which it is.
void RunsWindow::TitleSelected() {
    const QString selected = Selected();
    const QString title = selected.isEmpty() ? QStringLiteral("Varnholt: Runs")
                                             : QStringLiteral("Varnholt: Runs \u2014 ") + selected;
    if (windowTitle() != title) setWindowTitle(title);
}

void RunsWindow::AskSoon() {
    if (!soon_.isActive() || soon_.remainingTime() > kRefreshDelayMs) soon_.start(kRefreshDelayMs);
}

void RunsWindow::OnRunStarted(const RunStarted& event) {
    running_ = event.log;
    runningLot_ = event.lot;
    AskSoon();
}

void RunsWindow::OnRowWritten(const RowWritten&) { AskSoon(); }

void RunsWindow::OnRunEnded(const RunEnded&) {
    running_.clear();
    AskSoon();
}

void RunsWindow::AfterTick() {
    paced_ = true;
    if (waiting_ == nullptr) return;
    const std::shared_ptr<const RunsSnapshot> snapshot = std::move(waiting_);
    waiting_.reset();
    Show(snapshot);
}

void RunsWindow::Show(const std::shared_ptr<const RunsSnapshot>& snapshot) {
    asked_ = false;
    if (again_) {
        again_ = false;
        AskSoon();
    }
    const QString selected = Selected();
    {
        // The selection is put back below, by log, when the rows change.
        const QSignalBlocker quiet(list_->selectionModel());
        if (snapshot->reset) {
            model_->Reset(snapshot->runs, running_);
        } else {
            model_->Change(snapshot->changed, running_);
        }
    }
    if (!sized_ && model_->rowCount() > 0) {
        // Sized to the first rows once; then the operator's widths stand.
        // Measured here on the newest rows, not by the view, which would lay
        // out all 20,000 rows first (30 ms of the window's thread).
        const QFontMetrics metrics(list_->font());
        QFont bold = list_->font();
        bold.setBold(true);
        const QFontMetrics boldMetrics(bold);
        const int rows = std::min(model_->rowCount(), 64);
        const int margin = metrics.averageCharWidth() * 2;
        const auto widest = [&](int c) {
            int w = list_->horizontalHeader()->sectionSizeHint(c);
            for (int r = 0; r < rows; ++r) {
                const QModelIndex at = model_->index(r, c);
                const QFontMetrics& m = at.data(Qt::FontRole).isValid() ? boldMetrics : metrics;
                w = std::max(w, m.horizontalAdvance(at.data().toString()) + margin);
            }
            return w;
        };
        for (int c = 0; c + 1 < RunsModel::Columns; ++c) list_->setColumnWidth(c, widest(c));
        // The last column keeps room for its words ("running or killed"):
        // the names give way first, down to their headers.
        const int ended = widest(RunsModel::Ended);
        int excess = ended - list_->viewport()->width();
        for (int c = 0; c + 1 < RunsModel::Columns; ++c) excess += list_->columnWidth(c);
        for (const int c : {RunsModel::Log, RunsModel::Unit, RunsModel::Started}) {
            if (excess <= 0) break;
            const int least = list_->horizontalHeader()->sectionSizeHint(c);
            const int give = std::min(excess, list_->columnWidth(c) - least);
            if (give > 0) {
                list_->setColumnWidth(c, list_->columnWidth(c) - give);
                excess -= give;
            }
        }
        sized_ = true;
    }
    if (snapshot->reset) {
        const int row = selected.isEmpty() ? -1 : model_->RowOf(selected);
        if (row >= 0) {
            const QSignalBlocker quiet(list_->selectionModel());
            list_->setCurrentIndex(model_->index(row, 0));
        }
    }
    if (!list_->currentIndex().isValid() && model_->rowCount() > 0) {
        list_->setCurrentIndex(model_->index(0, 0));  // asks for its charts
    }
    TitleSelected();
    const auto count = [](int64_t n, const char* one, const char* many) {
        return Q(Counted(n, one, many));
    };
    // Each test kind apart: a power-cut cycle is no cycle-test cycle.
    QString text;
    for (const auto& [kind, total] : snapshot->totals) {
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) +
                QStringLiteral("Folder total, %1: %2, %3, %4, %5; MCBF %6, at least %7 (90 %)")
                    .arg(QString::fromLatin1(NamesOf(kind).description),
                         count(total.runs, "run", "runs"), count(total.cycles, "cycle", "cycles"),
                         count(total.shutterFailures, "shutter failure", "shutter failures"),
                         count(total.benchFaults, "bench fault", "bench faults"),
                         Figure(total.mcbf), Figure(total.mcbfLower90));
    }
    if (text.isEmpty()) text = QStringLiteral("No runs in this folder yet.");
    // A folder of thousands of broken logs must not become a label of
    // thousands of lines: its layout alone took seconds and 100 MB.
    const size_t shown = std::min(snapshot->problems.size(), kProblemsShown);
    for (size_t i = 0; i < shown; ++i)
        text += QStringLiteral("\n") + Q(snapshot->problems[i].problem);
    if (snapshot->problems.size() > shown) {
        const size_t more = snapshot->problems.size() - shown;
        text += QStringLiteral("\n... and %1 more %2; varnholt-report lists them all.")
                    .arg(more)
                    .arg(more == 1 ? QStringLiteral("problem") : QStringLiteral("problems"));
    }
    total_->setText(text);
    if (snapshot->chartsLater && (!soon_.isActive() || soon_.remainingTime() > kChartsLaterMs)) {
        soon_.start(kChartsLaterMs);
    }
    if (snapshot->selected == Selected().toStdString() && snapshot->charts) {
        charts_->Show(snapshot->charts);
    }
    last_ = snapshot;
    ShowUnits();
}

// The units' list, built again only when the units changed.
void RunsWindow::ShowUnits() {
    if (!last_ || !last_->unitsAndLots) return;
    // Thousands of unnamed units cost nothing while nobody looks at them.
    if (tabs_->currentIndex() != 1) return;
    if (last_->unitsAndLots == unitsShown_) return ShowLot();
    unitsShown_ = last_->unitsAndLots;
    const UnitsAndLots& ul = *unitsShown_;
    const QTreeWidgetItem* item = units_->currentItem();
    const QString selectedUnit =
        item != nullptr ? item->data(0, Qt::UserRole).toString() : QString();
    units_->blockSignals(true);
    units_->setUpdatesEnabled(false);
    units_->clear();
    QTreeWidgetItem* current = nullptr;
    for (const UnitFigures& u : ul.units) {
        auto* row = new QTreeWidgetItem(
            {Q(u.unit).left(64), Q(u.lot).left(64), QString::fromLatin1(NamesOf(u.kind).json),
             Q(Thousands(static_cast<int64_t>(u.runs.size()))), Q(Thousands(u.cycles)),
             Q(UnitStateText(u)), Q(Thousands(u.benchFaults))});
        const QString key =
            Q(u.unit) + QLatin1Char('\n') + QString::fromLatin1(NamesOf(u.kind).json);
        row->setData(0, Qt::UserRole, key);
        row->setData(1, Qt::UserRole, Q(u.lot));
        row->setData(2, Qt::UserRole, static_cast<int>(u.kind));
        units_->addTopLevelItem(row);
        if (key == selectedUnit) current = row;
    }
    if (current != nullptr) units_->setCurrentItem(current);
    if (!unitsSized_ && units_->topLevelItemCount() > 0) {
        for (int c = 0; c < units_->columnCount(); ++c) units_->resizeColumnToContents(c);
        unitsSized_ = true;
    }
    units_->setUpdatesEnabled(true);
    units_->blockSignals(false);
    ShowLot();
}

// For the selected unit's lot (else the lot under test) its figures, its plot
// and how far its units are along the zero-failure plan.
void RunsWindow::ShowLot() {
    if (!unitsShown_) return;
    const UnitsAndLots& ul = *unitsShown_;
    const QTreeWidgetItem* item = units_->currentItem();
    std::string lotName = runningLot_.empty() ? CurrentUnitUnderTest().lot : runningLot_;
    TestLogKind kind = TestLogKind::CycleTest;
    if (item != nullptr) {
        lotName = item->data(1, Qt::UserRole).toString().toStdString();
        kind = static_cast<TestLogKind>(item->data(2, Qt::UserRole).toInt());
    }
    const LotFigures* lot = nullptr;
    for (const LotFigures& l : ul.lots) {
        if (l.lot == lotName && (item == nullptr || l.kind == kind)) {
            lot = &l;
            break;
        }
    }
    weibull_->Show(lot != nullptr ? std::optional<LotFigures>(*lot) : std::nullopt);
    if (lot == nullptr) {
        lotText_->setText(QStringLiteral("Select a unit to see its lot's figures and plan."));
        return;
    }
    QString text = QStringLiteral("Lot %1, %2: ")
                       .arg(lot->lot.empty() ? QStringLiteral("(none)") : Q(lot->lot).left(64),
                            QString::fromLatin1(NamesOf(lot->kind).description)) +
                   Q(LotSummary(*lot));
    // The plan: each of the lot's units must pass t cycles without a failure.
    text += QLatin1Char('\n') +
            Q(PlanText(PlanFor(*lot, ul.units, planTarget_->value(), planReliability_->value(),
                               planConfidence_->value(), planBeta_->value()),
                       lot->units));
    lotText_->setText(text);
}

}  // namespace varnholt

#include "window/runs_window.h"

#include <QHeaderView>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <cmath>

#include "charts/run_charts.h"
#include "charts/weibull_plot.h"
#include "reliability/weibull.h"
#include "runlog/utf8_text.h"
#include "sequencing/unit_under_test.h"

namespace varnholt {
namespace {

// Bursts of rows (a fast bench) are read together.
constexpr int kRefreshDelayMs = 300;
// A folder whose logs grow by other hands is looked at now and then.
constexpr int kIdleRefreshMs = 5000;

QString Q(const std::string& text) { return QString::fromStdString(ValidUtf8(text)); }

QString Figure(const std::optional<double>& value) {
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("-");
}

}  // namespace

void RunsReader::ForgetSeries() { sentPath_.clear(); }

void RunsReader::Refresh(const QString& selected) {
    auto snapshot = std::make_shared<RunsSnapshot>();
    snapshot->selected = selected.toStdString();
    const std::vector<std::string> paths = LogFilesIn(".", snapshot->problems);
    std::map<std::string, std::unique_ptr<RunFile>> kept;
    for (const std::string& path : paths) {
        auto it = files_.find(path);
        auto file = it != files_.end() ? std::move(it->second) : std::make_unique<RunFile>(".", path);
        if (!file->Refresh()) {
            snapshot->problems.push_back({path, file->problem});
        } else {
            snapshot->runs.push_back(file->Figures());
            for (std::string& note : RunNotes(path, snapshot->runs.back())) {
                snapshot->problems.push_back({path, std::move(note)});
            }
            if (path == snapshot->selected &&
                (path != sentPath_ || file->BytesRead() != sentBytes_)) {
                snapshot->series = std::make_shared<RunAccumulator>(file->series());
                sentPath_ = path;
                sentBytes_ = file->BytesRead();
            }
        }
        kept.emplace(path, std::move(file));
    }
    files_ = std::move(kept);
    snapshot->unitsAndLots = BuildUnitsAndLots(snapshot->runs, 2.0);
    emit Ready(snapshot);
}

void RunChartsView::Show(std::shared_ptr<const RunAccumulator> series) {
    series_ = std::move(series);
    update();
}

void RunChartsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!series_) {
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Select a run to see its charts."));
        return;
    }
    const double third = height() / 3.0;
    int row = 0;
    for (const RunChart chart : kRunCharts) {
        DrawRunChart(painter, QRectF(0, row++ * third, width(), third - 4), chart, *series_);
    }
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
    DrawWeibullPlot(painter, QRectF(rect()), *lot_);
}

RunsWindow::RunsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("RunsWindow"));
    setWindowTitle(QStringLiteral("Varnholt: Runs"));
    resize(1240, 760);
    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("RunsList"));
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QStringLiteral("Log"), QStringLiteral("Unit"), QStringLiteral("Started"),
                            QStringLiteral("Cycles"), QStringLiteral("Shutter"),
                            QStringLiteral("Bench"),
                            QStringLiteral("MCBF"), QStringLiteral("MCBF \u2265 (90 %)"),
                            QStringLiteral("Ended")});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The last column takes what is left rather than pushing past the edge.
    list_->header()->setStretchLastSection(true);
    list_->header()->setSectionResizeMode(8, QHeaderView::Stretch);
    list_->headerItem()->setToolTip(4, QStringLiteral("Shutter failures"));
    list_->headerItem()->setToolTip(
        5, QStringLiteral("Bench faults: supply steps and lines that dropped, not counted "
                          "against the shutter"));
    list_->headerItem()->setToolTip(
        7, QStringLiteral("One-sided 90 % lower confidence bound on the MCBF"));
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
    units_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
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
    reader_ = new RunsReader;
    reader_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, reader_, &QObject::deleteLater);
    connect(this, &RunsWindow::RefreshWanted, reader_, &RunsReader::Refresh);
    connect(this, &RunsWindow::ForgetSeries, reader_, &RunsReader::ForgetSeries);
    connect(reader_, &RunsReader::Ready, this, &RunsWindow::Show);
    thread_.start(QThread::LowPriority);
    soon_.setSingleShot(true);
    connect(&soon_, &QTimer::timeout, this, [this] {
        if (asked_) {
            again_ = true;
            return;
        }
        asked_ = true;
        emit RefreshWanted(Selected());
        soon_.start(kIdleRefreshMs);
    });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] {
        charts_->Show(nullptr);
        emit ForgetSeries();
        AskSoon();
    });
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
    thread_.quit();
    thread_.wait();
}

QString RunsWindow::Selected() const {
    const QTreeWidgetItem* item = list_->currentItem();
    return item != nullptr ? item->data(0, Qt::UserRole).toString() : QString();
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

void RunsWindow::Show(const std::shared_ptr<const RunsSnapshot>& snapshot) {
    asked_ = false;
    if (again_) {
        again_ = false;
        AskSoon();
    }
    std::vector<const RunFigures*> runs;
    for (const RunFigures& run : snapshot->runs) runs.push_back(&run);
    // Newest first.
    std::stable_sort(runs.begin(), runs.end(), [](const RunFigures* a, const RunFigures* b) {
        return a->started > b->started;
    });
    const QString selected = Selected();
    list_->blockSignals(true);
    list_->clear();
    QTreeWidgetItem* current = nullptr;
    for (const RunFigures* r : runs) {
        std::string started = IsoLocalText(r->started);
        started[10] = ' ';
        const bool running = r->file == running_;
        auto* item = new QTreeWidgetItem(
            {Q(r->file) + (running ? QStringLiteral("  (running)") : QString()),
             Q(r->unit).left(64), Q(started), QString::number(r->cycles),
             QString::number(r->shutterFailures), QString::number(r->benchFaults), Figure(r->mcbf),
             Figure(r->mcbfLower90),
             running ? QStringLiteral("running")
                     : r->endedByFailure ? QStringLiteral("failure")
                                         : r->cycles == 0 ? QStringLiteral("no rows")
                                                          : QStringLiteral("stop")});
        item->setData(0, Qt::UserRole, Q(r->file));
        if (running) {
            QFont bold = item->font(0);
            bold.setBold(true);
            for (int c = 0; c < item->columnCount(); ++c) item->setFont(c, bold);
        }
        list_->addTopLevelItem(item);
        if (item->data(0, Qt::UserRole).toString() == selected) current = item;
    }
    if (current != nullptr) list_->setCurrentItem(current);
    list_->blockSignals(false);
    if (current == nullptr && list_->topLevelItemCount() > 0) {
        list_->setCurrentItem(list_->topLevelItem(0));  // asks for its charts
    }
    const TotalFigures total = Total(snapshot->runs);
    const auto count = [](int64_t n, const char* one, const char* many) {
        return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
    };
    QString text = QStringLiteral("Folder total: %1, %2, %3, %4, MCBF %5 (90 % lower bound %6)")
                       .arg(count(total.runs, "run", "runs"), count(total.cycles, "cycle", "cycles"),
                            count(total.shutterFailures, "shutter failure", "shutter failures"),
                            count(total.benchFaults, "bench fault", "bench faults"),
                            Figure(total.mcbf), Figure(total.mcbfLower90));
    for (const ReportProblem& p : snapshot->problems) text += QStringLiteral("\n") + Q(p.problem);
    total_->setText(text);
    if (snapshot->selected == Selected().toStdString() && snapshot->series) {
        charts_->Show(snapshot->series);
    }
    last_ = snapshot;
    ShowUnits();
}

// The units' list, and for the selected unit's lot (else the lot under test)
// its figures and how far its units are along the zero-failure plan.
void RunsWindow::ShowUnits() {
    if (!last_) return;
    const UnitsAndLots& ul = last_->unitsAndLots;
    const QTreeWidgetItem* item = units_->currentItem();
    const QString selectedUnit = item != nullptr ? item->data(0, Qt::UserRole).toString() : QString();
    std::string lotName = runningLot_.empty() ? CurrentUnitUnderTest().lot : runningLot_;
    TestLogKind kind = TestLogKind::CycleTest;
    if (item != nullptr) {
        lotName = item->data(1, Qt::UserRole).toString().toStdString();
        kind = static_cast<TestLogKind>(item->data(2, Qt::UserRole).toInt());
    }
    units_->blockSignals(true);
    units_->clear();
    QTreeWidgetItem* current = nullptr;
    for (const UnitFigures& u : ul.units) {
        auto* row = new QTreeWidgetItem(
            {Q(u.unit).left(64), Q(u.lot).left(64), QString::fromLatin1(NamesOf(u.kind).json),
             QString::number(u.runs.size()), QString::number(u.cycles), Q(UnitStateText(u)),
             QString::number(u.benchFaults)});
        const QString key = Q(u.unit) + QLatin1Char('\n') + QString::fromLatin1(NamesOf(u.kind).json);
        row->setData(0, Qt::UserRole, key);
        row->setData(1, Qt::UserRole, Q(u.lot));
        row->setData(2, Qt::UserRole, static_cast<int>(u.kind));
        units_->addTopLevelItem(row);
        if (key == selectedUnit) current = row;
    }
    if (current != nullptr) units_->setCurrentItem(current);
    units_->blockSignals(false);

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
    const double each = std::ceil(ZeroFailureCycles(planTarget_->value(), planReliability_->value(),
                                                    planConfidence_->value(), planBeta_->value(),
                                                    static_cast<double>(lot->units)));
    int64_t passed = 0, least = -1;
    for (const UnitFigures& u : ul.units) {
        if (u.lot != lot->lot || u.kind != lot->kind || u.failed) continue;
        if (static_cast<double>(u.cycles) >= each) {
            ++passed;
        } else if (least < 0 || u.cycles < least) {
            least = u.cycles;
        }
    }
    const QLocale english(QLocale::English);
    text += QStringLiteral("\nPlan: each of its %1 units must pass %2 cycles without a shutter "
                           "failure; %3 passed, %4 on the way%5, %6 failed%7.")
                .arg(lot->units)
                .arg(english.toString(static_cast<qlonglong>(each)))
                .arg(passed)
                .arg(lot->units - lot->failures - passed)
                .arg(least >= 0 ? QStringLiteral(" (the least at %1)")
                                      .arg(english.toString(static_cast<qlonglong>(least)))
                                : QString())
                .arg(lot->failures)
                .arg(lot->failures > 0 ? QStringLiteral(": a failure breaks a zero-failure plan")
                                       : QString());
    lotText_->setText(text);
}

}  // namespace varnholt

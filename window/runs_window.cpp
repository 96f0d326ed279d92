#include "window/runs_window.h"

#include <QHeaderView>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "charts/run_charts.h"
#include "runlog/utf8_text.h"

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

RunsWindow::RunsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("RunsWindow"));
    setWindowTitle(QStringLiteral("Varnholt: Runs"));
    resize(1240, 760);
    list_ = new QTreeWidget;
    list_->setObjectName(QStringLiteral("RunsList"));
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QStringLiteral("Log"), QStringLiteral("Started"),
                            QStringLiteral("Cycles"), QStringLiteral("Failures"),
                            QStringLiteral("MCBF"), QStringLiteral("MCBF 90 % low"),
                            QStringLiteral("Ended")});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
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
    auto* split = new QSplitter;
    split->addWidget(left);
    split->addWidget(charts_);
    split->setStretchFactor(1, 1);
    split->setSizes({600, 600});
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
    if (RunInProgress(run)) running_ = run.log;
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
            {Q(r->file) + (running ? QStringLiteral("  (running)") : QString()), Q(started),
             QString::number(r->cycles), QString::number(r->failures), Figure(r->mcbf),
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
    QString text = QStringLiteral("Folder total: %1 runs, %2 cycles, %3 failures, MCBF %4 "
                                  "(90 % lower bound %5)")
                       .arg(total.runs)
                       .arg(total.cycles)
                       .arg(total.failures)
                       .arg(Figure(total.mcbf), Figure(total.mcbfLower90));
    for (const ReportProblem& p : snapshot->problems) text += QStringLiteral("\n") + Q(p.problem);
    total_->setText(text);
    if (snapshot->selected == Selected().toStdString() && snapshot->series) {
        charts_->Show(snapshot->series);
    }
}

}  // namespace varnholt

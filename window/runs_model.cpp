#include "window/runs_model.h"

#include <QDateTime>
#include <QFont>

#include "report/report.h"
#include "runlog/log_format.h"
#include "window/display_text.h"

namespace varnholt {

void RunsModel::Reset(std::vector<std::shared_ptr<const RunRow>> runs, const std::string& running) {
    beginResetModel();
    runs_ = std::move(runs);
    running_ = running;
    endResetModel();
}

void RunsModel::Change(const std::vector<std::pair<size_t, std::shared_ptr<const RunRow>>>& changed,
                       const std::string& running) {
    const auto repaint = [this](size_t row) {
        const int r = static_cast<int>(row);
        emit dataChanged(index(r, 0), index(r, Columns - 1));
    };
    if (running != running_) {
        // A test started or ended: its row turns bold or plain.
        const int was = RowOf(QString::fromStdString(running_));
        running_ = running;
        const int is = RowOf(QString::fromStdString(running_));
        if (was >= 0) repaint(static_cast<size_t>(was));
        if (is >= 0) repaint(static_cast<size_t>(is));
    }
    for (const auto& [row, figures] : changed) {
        if (row >= runs_.size()) continue;
        runs_[row] = figures;
        repaint(row);
    }
}

int RunsModel::RowOf(const QString& log) const {
    if (log.isEmpty()) return -1;
    const std::string name = log.toStdString();
    for (size_t i = 0; i < runs_.size(); ++i) {
        if (runs_[i]->file() == name) return static_cast<int>(i);
    }
    return -1;
}

int RunsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(runs_.size());
}

int RunsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant RunsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const RunRow& r = *runs_[static_cast<size_t>(index.row())];
    const std::string file(r.file());
    const bool running = !running_.empty() && file == running_;
    if (role == kLogRole) return Q(file);
    if (role == Qt::FontRole && running) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role == Qt::TextAlignmentRole && index.column() >= Cycles && index.column() <= McbfLow) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case Log:
            return Q(file) + (running ? QStringLiteral("  (running)") : QString());
        case Unit:
            return Q(std::string(r.unit())).left(64);
        case Started:
            return Q(DateText(r.started));
        case Cycles:
            return Q(Thousands(r.cycles));
        case Shutter:
            return Q(Thousands(r.shutterFailures));
        case Bench:
            return Q(Thousands(r.benchFaults));
        case Mcbf:
            return Figure(r.mcbf);
        case McbfLow:
            return Figure(r.mcbfLower90);
        case Ended:
            if (running) return QStringLiteral("running");
            return QString::fromStdString(
                EndedText(r.Figures("."), QDateTime::currentSecsSinceEpoch()));
        default:
            return {};
    }
}

QVariant RunsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        static const char* const kNames[Columns] = {
            "Log",  "Unit", "Started", "Cycles", "Shutter", "Bench", "MCBF", "MCBF \u2265 (90 %)",
            "Ended"};
        return section >= 0 && section < Columns ? QString::fromUtf8(kNames[section]) : QVariant();
    }
    if (role == Qt::ToolTipRole) {
        switch (section) {
            case Shutter:
                return QStringLiteral("Shutter failures");
            case Bench:
                return QStringLiteral(
                    "Bench faults: supply steps and lines that dropped, not "
                    "counted against the shutter");
            case McbfLow:
                return QStringLiteral("One-sided 90 % lower confidence bound on the MCBF");
            default:
                return {};
        }
    }
    return {};
}

}  // namespace varnholt

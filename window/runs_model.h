#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "window/run_row.h"

namespace varnholt {

// The runs of the bench folder as the list shows them, newest first. Cells
// are worked out only for the rows on screen, so 20,000 runs cost the
// window's thread nothing when the folder is looked at again, and a changed
// run repaints its row alone.
class RunsModel : public QAbstractTableModel {
public:
    enum Column { Log, Unit, Started, Cycles, Shutter, Bench, Mcbf, McbfLow, Ended, Columns };
    // The log's name, for finding a row again after the list changed.
    static constexpr int kLogRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;
    // runs newest first; running: the log of the test in progress, or empty.
    void Reset(std::vector<std::shared_ptr<const RunRow>> runs, const std::string& running);
    // New figures for some rows, by row, the logs and their order unchanged.
    void Change(const std::vector<std::pair<size_t, std::shared_ptr<const RunRow>>>& changed,
                const std::string& running);
    // The row of a log, or -1.
    int RowOf(const QString& log) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<std::shared_ptr<const RunRow>> runs_;
    std::string running_;
};

}  // namespace varnholt

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "report/run_figures.h"

namespace varnholt {

// A finished run as the Runs window keeps it: the figures its list, totals
// and units are made of, in some 200 bytes where its RunFigures take 600
// and more. A folder of 20,000 logs is watched for the price of these.
class RunRow {
public:
    explicit RunRow(const RunFigures& figures);
    // Its figures again, in folder; what the row does not keep (spreads,
    // failure modes, line counts) at its default.
    RunFigures Figures(const std::string& folder) const;

    std::string_view file() const { return std::string_view(texts_).substr(0, fileEnd_); }
    std::string_view unit() const { return Text(fileEnd_, unitEnd_); }
    std::string_view lot() const { return Text(unitEnd_, lotEnd_); }
    std::optional<std::string_view> ended() const {
        if (!hasEnded) return std::nullopt;
        return Text(lotEnd_, static_cast<uint32_t>(texts_.size()));
    }

    TestLogKind kind;
    bool endedByFailure, hasRecord, recordEnded;
    int64_t started, cycles, failures, shutterFailures, benchFaults;
    int64_t benchFaultsBeforeFirstFailure, logModifiedUnix;
    std::optional<int64_t> lastRow, startedUtc, firstFailureCycle;
    std::optional<double> mcbf;
    double mcbfLower90;

private:
    std::string_view Text(uint32_t from, uint32_t to) const {
        return std::string_view(texts_).substr(from, to - from);
    }
    // The file's name, the unit, the lot and the record's ended word, end to
    // end in one allocation.
    std::string texts_;
    uint32_t fileEnd_, unitEnd_, lotEnd_;
    bool hasEnded;
};

}  // namespace varnholt

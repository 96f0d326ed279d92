#include "report/run_figures.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>

namespace varnholt {
namespace {

// Rank ceil(q n) with q = num/den, in whole numbers.
size_t NearestRank(size_t n, size_t num, size_t den) { return (num * n + den - 1) / den; }

double ChiSquared90(double degreesOfFreedom) {
    const boost::math::chi_squared distribution(degreesOfFreedom);
    return boost::math::quantile(distribution, 0.90);
}

// The spread of n values counted by value: counts[i] of them are lowest + i.
Spread SpreadOfCounts(const std::vector<uint32_t>& counts, int64_t lowest, size_t n) {
    Spread spread;
    const size_t medianRank = NearestRank(n, 1, 2), p99Rank = NearestRank(n, 99, 100);
    size_t seen = 0, i = 0;
    bool medianFound = false;
    for (; i < counts.size(); ++i) {
        seen += counts[i];
        if (!medianFound && seen >= medianRank) {
            spread.median = lowest + static_cast<int64_t>(i);
            medianFound = true;
        }
        if (seen >= p99Rank) {
            spread.p99 = lowest + static_cast<int64_t>(i);
            break;
        }
    }
    for (size_t last = counts.size(); last-- > i;) {
        if (counts[last] != 0) {
            spread.max = lowest + static_cast<int64_t>(last);
            break;
        }
    }
    return spread;
}

}  // namespace

std::optional<Spread> SpreadOf(const std::vector<int32_t>& values) {
    if (values.empty()) return std::nullopt;
    const size_t n = values.size();
    const size_t medianRank = NearestRank(n, 1, 2), p99Rank = NearestRank(n, 99, 100);
    // Most of a run's cycle seconds are the same as the one before: one pass
    // takes them as runs of equal values, and the rest works on those runs.
    // Where values change too often for that to pay, the long way.
    std::vector<std::pair<int32_t, uint32_t>> equal;
    const size_t mostRuns = n / 8 + 1;
    equal.reserve(std::min<size_t>(mostRuns, 64));
    int32_t current = values[0];
    uint32_t length = 0;
    for (const int32_t v : values) {
        if (v == current) {
            ++length;
            continue;
        }
        if (equal.size() == mostRuns) break;
        equal.emplace_back(current, length);
        current = v;
        length = 1;
    }
    const bool byRuns = equal.size() < mostRuns;
    if (byRuns) equal.emplace_back(current, length);
    // Each value with how often it comes, in either form.
    const auto eachValue = [&](auto&& use) {
        if (byRuns) {
            for (const auto& [value, count] : equal) use(value, count);
        } else {
            for (const int32_t value : values) use(value, 1u);
        }
    };
    int32_t lowest = values[0], highest = values[0];
    eachValue([&](int32_t value, uint32_t) {
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    });
    Spread spread;
    spread.max = highest;
    // Cycle seconds and move milliseconds mostly span a small range: the
    // ranks are found by counting, without a sorted copy of a million rows.
    constexpr int64_t kCountedRange = 1 << 18;
    if (static_cast<int64_t>(highest) - lowest < kCountedRange) {
        std::vector<uint32_t> counts(static_cast<size_t>(highest - lowest) + 1);
        eachValue([&](int32_t value, uint32_t count) {
            counts[static_cast<size_t>(value - lowest)] += count;
        });
        return SpreadOfCounts(counts, lowest, n);
    }
    std::vector<int32_t> copy = values;
    const auto at = [&](size_t rank) {
        auto nth = copy.begin() + static_cast<std::ptrdiff_t>(rank - 1);
        std::nth_element(copy.begin(), nth, copy.end());
        return *nth;
    };
    spread.median = at(medianRank);
    spread.p99 = at(p99Rank);
    return spread;
}

double McbfLower90(int64_t cycles, int64_t failures, bool failureTerminated) {
    const double nu = 2.0 * static_cast<double>(failures) + (failureTerminated ? 0.0 : 2.0);
    if (nu <= 0) return 0;
    return 2.0 * static_cast<double>(cycles) / ChiSquared90(nu);
}

std::optional<double> Laplace(const std::vector<int64_t>& failureCycles, int64_t cycles) {
    const auto r = static_cast<double>(failureCycles.size());
    if (failureCycles.size() < 3 || cycles <= 0) return std::nullopt;
    double sum = 0;
    for (const int64_t t : failureCycles) sum += static_cast<double>(t);
    const auto T = static_cast<double>(cycles);
    return (sum / r - T / 2.0) / (T * std::sqrt(1.0 / (12.0 * r)));
}

TotalFigures Total(const std::vector<RunFigures>& runs) {
    std::vector<const RunFigures*> all;
    all.reserve(runs.size());
    for (const RunFigures& run : runs) all.push_back(&run);
    return Total(all);
}

TotalFigures Total(const std::vector<const RunFigures*>& runs) {
    TotalFigures total;
    for (const RunFigures* run : runs) AddToTotal(total, *run, 1);
    WorkOutTotal(total);
    return total;
}

void WorkOutTotal(TotalFigures& total) {
    total.mcbf.reset();
    if (total.shutterFailures > 0) {
        total.mcbf = static_cast<double>(total.cycles) / static_cast<double>(total.shutterFailures);
    }
    total.mcbfLower90 = McbfLower90(total.cycles, total.shutterFailures, false);
}

void RunAccumulator::Start(const LogReader& header) {
    *this = RunAccumulator{};
    kind_ = header.kind;
    started_ = header.started;
    last_ = header.started;
}

void RunAccumulator::Reserve(size_t rows) { intervals.reserve(rows); }

void RunAccumulator::AddUnusual(const LogRow& row) {
    if (row.timeWentBack && timeWentBack_++ == 0) firstBackLine_ = row.line;
    // The power-cut test goes on after a failed final opening: its error in
    // a SUCCESS row is a failure all the same.
    const bool failure = row.failure || (kind_ == TestLogKind::PowerCutTest && !row.error.empty());
    if (failure) failedRows.push_back(static_cast<int64_t>(intervals.size()) - 1);
    lastFailed_ = row.failure;
    lastShutterFailed_ = false;
    if (!failure) return;
    ++failures_;
    const FailureClass kind = ClassOfFailure(row.error);
    if (kind == FailureClass::Shutter) {
        failureCycles.push_back(row.count);
        lastShutterFailed_ = row.failure;
    } else {
        ++benchFaults_;
        if (failureCycles.empty()) ++benchBeforeFirst_;
    }
    auto [it, added] = modes_.try_emplace(std::string(row.error));
    FailureMode& mode = it->second;
    if (added) {
        mode.error = it->first;
        mode.firstCycle = row.count;
        mode.kind = kind;
    }
    ++mode.count;
    mode.lastCycle = row.count;
}

void RunAccumulator::AddMoves(std::vector<MoveRow>&& rows) {
    // The first read of a companion is most of it: taken whole, not copied.
    if (moves.empty()) {
        moves = std::move(rows);
    } else {
        moves.insert(moves.end(), rows.begin(), rows.end());
    }
}

RunFigures RunAccumulator::Figures(const LogReader& reader, Spreads spreads) const {
    const bool spread = spreads == Spreads::Worked;
    RunFigures f;
    f.kind = kind_;
    f.started = started_;
    if (any_) f.lastRow = last_;
    f.cycles = static_cast<int64_t>(intervals.size());
    f.failures = failures_;
    f.shutterFailures = static_cast<int64_t>(failureCycles.size());
    f.benchFaults = benchFaults_;
    f.benchFaultsBeforeFirstFailure = benchBeforeFirst_;
    f.endedByFailure = any_ && lastFailed_;
    if (!failureCycles.empty()) {
        f.firstFailureCycle = failureCycles.front();
        f.mcbf = static_cast<double>(f.cycles) / static_cast<double>(f.shutterFailures);
    }
    // A run ended by a bench fault is time-terminated for the shutter.
    f.mcbfLower90 = McbfLower90(f.cycles, f.shutterFailures, any_ && lastShutterFailed_);
    if (spread) f.cycleSeconds = SpreadOf(intervals);
    f.laplace = Laplace(failureCycles, f.cycles);
    for (const auto& [error, mode] : modes_) f.failureModes.push_back(mode);
    std::sort(f.failureModes.begin(), f.failureModes.end(),
              [](const FailureMode& a, const FailureMode& b) {
                  return a.count != b.count ? a.count > b.count : a.firstCycle < b.firstCycle;
              });
    // Only the moves of this log's rows, in order, of a time a move can take:
    // a companion left from elsewhere or written over must not bend them.
    constexpr int32_t kLongestMoveMs = 10 * 60 * 1000;
    // A long run's million moves are counted by millisecond as they are
    // taken, rather than copied out and counted again; a few are not worth
    // two tables of 600,001 counts.
    const bool counted = spread && moves.size() >= (1u << 16);
    std::vector<int32_t> open, close;
    std::vector<uint32_t> openCounts, closeCounts;
    size_t opens = 0, closes = 0;
    if (counted) {
        openCounts.assign(kLongestMoveMs + 1, 0);
        closeCounts.assign(kLongestMoveMs + 1, 0);
    } else if (spread) {
        open.reserve(moves.size());
        close.reserve(moves.size());
    }
    int64_t lastCount = 0;
    const int64_t rowsCount = static_cast<int64_t>(intervals.size());
    for (const MoveRow& move : moves) {
        if (move.count <= lastCount || move.count > rowsCount || move.openMs > kLongestMoveMs ||
            move.closeMs > kLongestMoveMs) {
            ++f.movesLeftOut;
            continue;
        }
        lastCount = move.count;
        if (counted) {
            // Taken moves are 0 to kLongestMoveMs, or none.
            if (move.openMs != MoveRow::kNone) ++openCounts[move.openMs], ++opens;
            if (move.closeMs != MoveRow::kNone) ++closeCounts[move.closeMs], ++closes;
        } else if (spread) {
            if (move.openMs != MoveRow::kNone) open.push_back(move.openMs);
            if (move.closeMs != MoveRow::kNone) close.push_back(move.closeMs);
        }
    }
    if (counted) {
        if (opens > 0) f.openMs = SpreadOfCounts(openCounts, 0, opens);
        if (closes > 0) f.closeMs = SpreadOfCounts(closeCounts, 0, closes);
    } else if (spread) {
        f.openMs = SpreadOf(open);
        f.closeMs = SpreadOf(close);
    }
    f.badLines = reader.badLines;
    f.firstBadLine = reader.firstBadLine;
    f.outOfSequence = reader.outOfSequence;
    f.partialLastLine = reader.PartialLastLine();
    f.timeWentBack = timeWentBack_;
    f.firstTimeWentBackLine = firstBackLine_;
    return f;
}

}  // namespace varnholt

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "reliability/weibull.h"
#include "report/run_figures.h"

namespace varnholt {

struct UnitRun {
    std::string folder, file;
};

// One shutter over all its runs of one test kind.
struct UnitFigures {
    std::string unit;  // the serial number, or folder/file for a run that names none
    bool named = true;
    std::string lot;
    TestLogKind kind = TestLogKind::CycleTest;
    std::vector<UnitRun> runs;  // in order of start
    int64_t cycles = 0;         // up to its first shutter failure
    bool failed = false;
    std::optional<int64_t> cyclesToFailure;
    int64_t benchFaults = 0;  // within its life
    bool running = false;     // its newest run's record has not ended
};

struct LotFigures {
    std::string lot;
    TestLogKind kind = TestLogKind::CycleTest;
    int64_t units = 0, failures = 0, suspensions = 0;
    int64_t running = 0;     // of the suspensions, units whose newest run goes on
    int64_t namedUnits = 0;  // logs without a record make unnamed units
    std::optional<WeibullFit> weibull;
    std::string weibullNote;  // why there is no fit
    LifeData life;            // what the fit was made from
    // The fit's two-sided 90 % likelihood-ratio bounds on the B-life at
    // kBandPercents, for the probability plot.
    std::vector<Interval> band90;
    std::optional<Weibayes> weibayes;
    std::string weibayesNote;  // why there is no Weibayes bound, or part of one
};

inline constexpr double kBandPercents[] = {1, 2, 5, 10, 20, 30, 50, 63.2, 70, 80, 90, 95, 99};

struct UnitsAndLots {
    std::vector<UnitFigures> units;     // by kind, then unit name
    std::vector<LotFigures> lots;       // by kind, then lot name
    std::vector<std::string> problems;  // sentences
};

// Runs are those of a report, each with its record's unit and lot. beta is
// the shape the Weibayes bound assumes.
UnitsAndLots BuildUnitsAndLots(const std::vector<const RunFigures*>& runs, double assumedBeta);
UnitsAndLots BuildUnitsAndLots(const std::vector<RunFigures>& runs, double assumedBeta);

}  // namespace varnholt

#include "report/units.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <tuple>

#include "runlog/run_record.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

// A log's start in UTC: from its record, or its header's local time read in
// this machine's zone.
int64_t StartUtc(const RunFigures& run) {
    return run.startedUtc ? *run.startedUtc : UtcOfLocalSeconds(run.started);
}

std::string Shown(const std::string& name) { return PrintableName(name, 80); }

std::string RunName(const RunFigures& run) {
    return run.folder == "." ? run.file : run.folder + "/" + run.file;
}

// Two runs of one unit at one time (two benches, or two logs of one folder)
// cannot both be its life: said, naming both; both stay counted.
void SayOverlaps(const std::string& unit,
                 const std::vector<std::pair<int64_t, const RunFigures*>>& runs,
                 std::vector<std::string>& problems) {
    const RunFigures* latest = nullptr;
    int64_t latestEnd = 0;
    for (const auto& [start, run] : runs) {
        const int64_t end = start + (run->lastRow ? *run->lastRow - run->started : 0);
        if (latest != nullptr && start < latestEnd) {
            problems.push_back("Unit " + Shown(unit) + " ran in " + Shown(RunName(*latest)) +
                               " and in " + Shown(RunName(*run)) +
                               " at the same time; one shutter cannot run twice at once, yet "
                               "both runs were counted in its life: correct the unit in one of "
                               "their run records.");
        }
        if (latest == nullptr || end > latestEnd) {
            latest = run;
            latestEnd = end;
        }
    }
}

// Names that differ only by case or by spaces around them are most likely
// one shutter typed twice; they stay apart, but are said.
void SayLookAlikes(const std::vector<UnitFigures>& units, std::vector<std::string>& problems) {
    std::map<std::pair<int, std::string>, std::vector<std::string>> alike;
    for (const UnitFigures& u : units) {
        if (!u.named) continue;
        const size_t first = u.unit.find_first_not_of(' ');
        const size_t last = u.unit.find_last_not_of(' ');
        std::string key = first == std::string::npos ? "" : u.unit.substr(first, last - first + 1);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        alike[{static_cast<int>(u.kind), key}].push_back(u.unit);
    }
    for (const auto& [key, names] : alike) {
        if (names.size() < 2) continue;
        std::string list;
        for (size_t i = 0; i < names.size(); ++i) {
            list += (i == 0                  ? ""
                     : i + 1 == names.size() ? " and "
                                             : ", ") +
                    ("\"" + Shown(names[i]) + "\"");
        }
        problems.push_back("Units " + list +
                           " look like one shutter (they differ only by case or spaces); they "
                           "were counted apart: if they are one, correct their run records.");
    }
}

}  // namespace

UnitsAndLots BuildUnitsAndLots(const std::vector<RunFigures>& runs, double assumedBeta) {
    std::vector<const RunFigures*> all;
    all.reserve(runs.size());
    for (const RunFigures& run : runs) all.push_back(&run);
    return BuildUnitsAndLots(all, assumedBeta);
}

UnitsAndLots BuildUnitsAndLots(const std::vector<const RunFigures*>& runs, double assumedBeta) {
    UnitsAndLots out;
    // Unnamed runs never merge with a named unit of the same text.
    using Key = std::tuple<int, bool, std::string>;
    // Each run with its start in UTC, worked out once.
    using Started = std::pair<int64_t, const RunFigures*>;
    std::map<Key, std::vector<Started>> byUnit;
    for (const RunFigures* each : runs) {
        const RunFigures& run = *each;
        const bool named = !run.unit.empty();
        const std::string name = named ? run.unit : RunName(run);
        byUnit[{static_cast<int>(run.kind), !named, name}].emplace_back(StartUtc(run), &run);
    }
    out.units.reserve(byUnit.size());
    for (auto& [key, started] : byUnit) {
        std::stable_sort(started.begin(), started.end(),
                         [](const Started& a, const Started& b) { return a.first < b.first; });
        std::vector<const RunFigures*> unitRuns;
        for (const Started& s : started) unitRuns.push_back(s.second);
        if (!std::get<1>(key)) SayOverlaps(std::get<2>(key), started, out.problems);
        UnitFigures u;
        u.kind = static_cast<TestLogKind>(std::get<0>(key));
        u.named = !std::get<1>(key);
        u.unit = std::get<2>(key);
        std::string otherLot;
        for (const RunFigures* run : unitRuns) {
            u.runs.push_back({run->folder, run->file});
            if (!run->lot.empty()) {
                if (!u.lot.empty() && run->lot != u.lot) otherLot = u.lot;
                u.lot = run->lot;  // the newest that names one
            }
            if (u.failed) continue;  // its life ended before this run
            if (run->firstFailureCycle) {
                u.failed = true;
                u.cyclesToFailure = u.cycles + *run->firstFailureCycle;
                u.cycles = *u.cyclesToFailure;
                u.benchFaults += run->benchFaultsBeforeFirstFailure;
            } else {
                u.cycles += run->cycles;
                u.benchFaults += run->benchFaults;
            }
        }
        if (!otherLot.empty()) {
            out.problems.push_back("The runs of unit " + Shown(u.unit) + " name different lots (" +
                                   Shown(otherLot) + " and " + Shown(u.lot) +
                                   "); it was counted in lot " + Shown(u.lot) +
                                   ", named by its newest run.");
        }
        const RunFigures& newest = *unitRuns.back();
        u.running = newest.hasRecord && !newest.recordEnded;
        out.units.push_back(std::move(u));
    }
    SayLookAlikes(out.units, out.problems);
    std::map<std::pair<int, std::string>, LotFigures> lots;
    for (const UnitFigures& u : out.units) {
        LotFigures& lot = lots[{static_cast<int>(u.kind), u.lot}];
        lot.lot = u.lot;
        lot.kind = u.kind;
        ++lot.units;
        if (u.named) ++lot.namedUnits;
        if (u.failed) {
            ++lot.failures;
            lot.life.failures.push_back(static_cast<double>(*u.cyclesToFailure));
        } else {
            ++lot.suspensions;
            if (u.running) ++lot.running;
            // A unit that ran no cycle tells the fit nothing.
            if (u.cycles > 0) lot.life.suspensions.push_back(static_cast<double>(u.cycles));
        }
    }
    for (auto& [key, lot] : lots) {
        lot.weibull = FitWeibull(lot.life, lot.weibullNote);
        // The band is drawn only for lots a lab named.
        if (lot.weibull && lot.namedUnits > 0) {
            for (const double percent : kBandPercents) {
                lot.band90.push_back(BLifeInterval(lot.life, *lot.weibull, percent, 0.90));
            }
        }
        std::vector<double> cycles = lot.life.failures;
        cycles.insert(cycles.end(), lot.life.suspensions.begin(), lot.life.suspensions.end());
        lot.weibayes = WeibayesBound(lot.failures, cycles, assumedBeta);
        if (!lot.weibayes) {
            lot.weibayesNote = "no unit of the lot has run a cycle";
        } else if (!std::isfinite(lot.weibayes->etaLower90) ||
                   !std::isfinite(lot.weibayes->b10Lower90)) {
            lot.weibayesNote = "with the shape assumed the bound is beyond any count of cycles";
        }
        out.lots.push_back(std::move(lot));
    }
    return out;
}

}  // namespace varnholt

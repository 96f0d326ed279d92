// The lot figures of a folder of many runs: the whole report, and the units,
// lots, Weibull fits, bounds and plot bands alone, each the best of 5.
// usage: lot_figures FOLDER
#include <chrono>
#include <cstdio>

#include "report/report.h"

int main(int argc, char* argv[]) {
    if (argc < 2) return 2;
    using Clock = std::chrono::steady_clock;
    double whole = 1e9, lots = 1e9;
    varnholt::Report report;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        report = varnholt::BuildReport({argv[1]});
        const auto t1 = Clock::now();
        const varnholt::UnitsAndLots figures = varnholt::BuildUnitsAndLots(report.runs, 2.0);
        const auto t2 = Clock::now();
        whole = std::min(whole, std::chrono::duration<double, std::milli>(t1 - t0).count());
        lots = std::min(lots, std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    const auto& ul = report.unitsAndLots;
    std::printf(
        "lots: %zu runs, %zu units, %zu lots; the whole report %.0f ms, of which units, "
        "lots, Weibull fits, bounds and plot bands %.1f ms (best of 5; target under 50 ms)\n",
        report.runs.size(), ul.units.size(), ul.lots.size(), whole, lots);
    return lots < 50 ? 0 : 1;
}

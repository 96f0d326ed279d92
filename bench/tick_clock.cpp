// Measures the window's tick clock against a steady clock: how far the tick
// count strays over a run, and whether ticks due during a blocking pause are
// counted afterwards. usage: tick_clock [seconds]  (run in an empty folder)

#include <QApplication>
#include <QElapsedTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "timing/clock.h"
#include "window/event_pump.h"
#include "window/shutterform.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::ofstream("kestrane.ini") << "[Communications]\nPowerSupplyPort=0\nShutterPort=0\n";
    varnholt::InstallQtEventPump();
    varnholt::ShutterForm form;
    QElapsedTimer steady;
    form.Form_Load();
    steady.start();
    const int64_t ticksAtStart = varnholt::AppTicks();

    double worst = 0;
    double lastOffset = 0;
    double firstOffset = NAN;
    double earlySum = 0, lateSum = 0;
    int early = 0, late = 0;
    bool pauseCaughtUp = false;
    double afterPause = 0;
    for (int i = 0; steady.elapsed() < seconds * 1000LL; ++i) {
        varnholt::DelayTicks(1);
        // Sampled right after a tick: the counted time against the steady
        // clock, less the fixed phase between the two at the first sample.
        const double raw = static_cast<double>(varnholt::AppTicks() - ticksAtStart) * 100.0 -
                           (static_cast<double>(steady.nsecsElapsed()) / 1e6);
        if (std::isnan(firstOffset)) firstOffset = raw;
        const double offset = raw - firstOffset;
        lastOffset = offset;
        if (steady.elapsed() < seconds * 100LL) earlySum += offset, ++early;
        if (steady.elapsed() > seconds * 900LL) lateSum += offset, ++late;
        worst = std::max(worst, std::fabs(offset));
        if (i == 50) {
            // The supply's reset pause blocks everything for 200 ms.
            varnholt::Sleep(200);
            varnholt::DelayTicks(1);
            afterPause = static_cast<double>(varnholt::AppTicks() - ticksAtStart) * 100.0 -
                         (static_cast<double>(steady.nsecsElapsed()) / 1e6) - firstOffset;
            pauseCaughtUp = std::fabs(afterPause) < 100.0;
        }
    }
    const double drift = (lateSum / late - earlySum / early) / (0.8 * seconds) * 3600.0;
    std::printf(
        "clock: %d s of ticks, worst offset %.1f ms, final offset %.1f ms, "
        "drift %.1f ms per hour\n",
        seconds, worst, lastOffset, drift);
    std::printf("clock: after a 200 ms blocking pause the count was %.1f ms off: %s\n", afterPause,
                pauseCaughtUp ? "counted late, not lost" : "TICKS LOST");
    return pauseCaughtUp && worst < 100.0 ? 0 : 1;
}

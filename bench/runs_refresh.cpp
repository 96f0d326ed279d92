// The Runs window's reader over a bench folder, without the window: how long
// its first look and its later looks (between full passes) take, and the heap
// it keeps. usage: runs_refresh FOLDER [looks] [running-log]

#include <malloc.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "window/runs_window.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2 || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: runs_refresh FOLDER [looks] [running-log]\n");
        return 2;
    }
    const int looks = argc > 2 ? std::atoi(argv[2]) : 20;
    const QString running = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    // Blocks taken by mmap (a long log's series) are not in uordblks.
    const auto heapNow = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const size_t heapBefore = heapNow();
    varnholt::RunsReader reader;
    size_t runs = 0;
    QObject::connect(&reader, &varnholt::RunsReader::Ready,
                     [&](std::shared_ptr<const varnholt::RunsSnapshot> s) {
                         if (s->reset) runs = s->runs.size();
                     });
    QElapsedTimer timer;
    timer.start();
    reader.Refresh(QString(), running, QSize(), false);
    const double first = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const size_t heap = heapNow() - heapBefore;
    std::vector<double> later;
    for (int i = 0; i < looks; ++i) {
        timer.restart();
        reader.Refresh(QString(), running, QSize(), false);
        later.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(later.begin(), later.end());
    std::printf(
        "%zu runs: first look %.1f ms, later looks median %.2f ms (max %.2f ms, %zu logs "
        "looked at), heap kept %.1f MB (%.0f bytes a run)\n",
        runs, first, later.empty() ? 0.0 : later[later.size() / 2],
        later.empty() ? 0.0 : later.back(), reader.LastLooked(), static_cast<double>(heap) / 1e6,
        runs ? static_cast<double>(heap) / static_cast<double>(runs) : 0.0);
    return 0;
}

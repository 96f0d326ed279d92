#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "report/report.h"

namespace varnholt {

// A zero-failure demonstration the lots are held to (varnholt-report's
// --plan options); target 0: none.
struct BoardPlan {
    double target = 0, reliability = 0.90, confidence = 0.90, beta = 2.0;
};

// The lots as the page shows them, made on the watcher's thread.
struct LotsView {
    std::string json = "[]\n";  // as varnholt-report --json's "lots"
    std::string html;
    std::vector<std::string> plots;  // PNG bytes, /lot/<index>.png
    // Per lot ("kind lot"), the plan's verdict: met, open or broken.
    std::map<std::string, std::string> verdicts;
};

// Reads the lab's bench folders on a thread of its own, each log only as far
// as it grew (finished ones kept as their figures alone), and works out the
// lots again when a run changed.
class LotWatch {
public:
    LotWatch(std::vector<std::string> folders, BoardPlan plan, double assumedBeta);
    ~LotWatch();
    std::shared_ptr<const LotsView> View() const;

private:
    void Run();
    bool Refresh();  // true when a run changed
    void Build();

    std::vector<std::string> folders_;
    BoardPlan plan_;
    double assumedBeta_;
    std::map<std::string, std::unique_ptr<RunFile>> files_;
    std::map<std::string, uint64_t> versions_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::shared_ptr<const LotsView> view_ = std::make_shared<LotsView>();
    std::thread thread_;
};

}  // namespace varnholt

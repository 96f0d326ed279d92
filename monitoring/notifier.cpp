#include "monitoring/notifier.h"

#include <cstdio>

namespace varnholt {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;


}  // namespace

Notifier::Notifier(std::string program, std::chrono::milliseconds oncePer,
                   std::chrono::milliseconds longestRun)
    : program_(std::move(program)), oncePer_(oncePer), longestRun_(longestRun) {
    thread_ = std::thread([this] { Run(); });
}

Notifier::~Notifier() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void Notifier::Notify(const std::string& event, const std::string& log, int64_t count,
                      const std::string& text, const std::string& unit) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back({{event, log, std::to_string(count), text}, unit});
    }
    ready_.notify_one();
}

void Notifier::Run() {
    struct Kind {
        Clock::time_point last;
        bool called = false;
        int64_t held = 0;  // calls due since the last one, not made
    };
    std::map<std::string, Kind> kinds;
    struct Running {
        ChildProcess child;
        Clock::time_point started;
    };
    std::vector<Running> running;
    std::unique_lock<std::mutex> lock(mutex_);
    // At the end of the program the calls still due are made; those running
    // are left to finish on their own.
    while (!stopping_ || !calls_.empty()) {
        ready_.wait_for(lock, 100ms, [this] { return stopping_ || !calls_.empty(); });
        while (!calls_.empty()) {
            std::vector<std::string> call = std::move(calls_.front().arguments);
            const std::string unit = std::move(calls_.front().unit);
            calls_.pop_front();
            Kind& kind = kinds[call[0]];
            const auto now = Clock::now();
            if (kind.called && now - kind.last < oncePer_) {
                ++kind.held;
                continue;
            }
            if (kind.held > 0 || !unit.empty()) call.push_back(std::to_string(kind.held));
            if (!unit.empty()) call.push_back(unit);
            kind = {now, true, 0};
            lock.unlock();
            const ChildProcess child = StartProgram(program_, call);
            if (child == kNoChild) {
                std::fprintf(stderr, "varnholt: NotifyCommand %s could not be started for the "
                                     "event %s; check NotifyCommand in [Monitoring] of "
                                     "kestrane.ini.\n", program_.c_str(), call[0].c_str());
            } else {
                running.push_back({child, now});
            }
            lock.lock();
        }
        for (auto it = running.begin(); it != running.end();) {
            if (ProgramEnded(it->child)) {
                it = running.erase(it);
            } else if (Clock::now() - it->started > longestRun_) {
                KillProgram(it->child);
                std::fprintf(stderr, "varnholt: NotifyCommand %s ran longer than %g s and was "
                                     "ended.\n", program_.c_str(), static_cast<double>(longestRun_.count()) / 1000.0);
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
}

}  // namespace varnholt

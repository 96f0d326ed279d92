#include "monitoring/notifier.h"

#include <cstdio>

namespace varnholt {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

}  // namespace

Notifier::Notifier(std::string program, std::chrono::milliseconds oncePer,
                   std::chrono::milliseconds longestRun,
                   std::function<void(const std::string&)> trouble)
    : program_(std::move(program)),
      oncePer_(oncePer),
      longestRun_(longestRun),
      trouble_(std::move(trouble)) {
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
        std::string event;
        bool leaderEnded = false;
    };
    std::vector<Running> running;
    std::unique_lock<std::mutex> lock(mutex_);
    // At the end of the program the calls still due are made, and then
    // whatever still runs is ended with its group.
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
                std::fprintf(stderr,
                             "varnholt: NotifyCommand %s could not be started for the "
                             "event %s; check NotifyCommand in [Monitoring] of "
                             "kestrane.ini.\n",
                             program_.c_str(), call[0].c_str());
                if (trouble_) trouble_("Monitoring: the notify command could not be started");
            } else {
                running.push_back({child, now, call[0]});
            }
            lock.lock();
        }
        lock.unlock();
        for (auto it = running.begin(); it != running.end();) {
            int exitCode = 0;
            if (!it->leaderEnded && ProgramEnded(it->child, exitCode)) {
                it->leaderEnded = true;
                if (exitCode != 0) {
                    std::fprintf(stderr,
                                 "varnholt: NotifyCommand %s ended with %s for the event "
                                 "%s; check the command by running it by hand.\n",
                                 program_.c_str(),
                                 exitCode < 0 ? "a signal"
                                              : ("exit status " + std::to_string(exitCode)).c_str(),
                                 it->event.c_str());
                    if (trouble_)
                        trouble_("Monitoring: the notify command failed (" + it->event + ")");
                }
            }
            // What it left running in its group is timed with it.
            if (it->leaderEnded && !GroupRuns(it->child)) {
                it = running.erase(it);
            } else if (Clock::now() - it->started > longestRun_) {
                EndGroup(it->child);
                std::fprintf(stderr,
                             "varnholt: NotifyCommand %s ran longer than %g s and was "
                             "ended.\n",
                             program_.c_str(), static_cast<double>(longestRun_.count()) / 1000.0);
                it = running.erase(it);
            } else {
                ++it;
            }
        }
        lock.lock();
    }
    lock.unlock();
    for (const Running& r : running) EndGroup(r.child);
}

}  // namespace varnholt

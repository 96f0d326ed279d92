#include "monitoring/notifier.h"

#include <cstdio>

namespace varnholt {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

}  // namespace

Notifier::Notifier(std::string program, std::chrono::milliseconds oncePer,
                   std::chrono::milliseconds longestRun,
                   std::function<void(const std::string&)> trouble, NotifierWords words)
    : program_(std::move(program)),
      oncePer_(oncePer),
      longestRun_(longestRun),
      trouble_(std::move(trouble)),
      words_(std::move(words)) {
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

void Notifier::Launch(std::vector<std::string> arguments) {
    if (arguments.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back({std::move(arguments), std::string()});
    }
    ready_.notify_one();
}

void Notifier::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    // At the end of the program the calls still due are made, and then
    // whatever still runs is ended with its group.
    while (!stopping_ || !calls_.empty()) {
        ready_.wait_for(lock, 100ms, [this] { return stopping_ || !calls_.empty(); });
        while (!calls_.empty()) {
            Call call = std::move(calls_.front());
            calls_.pop_front();
            lock.unlock();
            Start(std::move(call));
            lock.lock();
        }
        lock.unlock();
        Reap();
        lock.lock();
    }
    lock.unlock();
    for (const Running& r : running_) EndGroup(r.child);
}

// Calls of one kind closer than oncePer_ are held and counted into the next.
void Notifier::Start(Call call) {
    std::vector<std::string>& arguments = call.arguments;
    Kind& kind = kinds_[arguments[0]];
    const auto now = Clock::now();
    if (kind.called && now - kind.last < oncePer_) {
        ++kind.held;
        return;
    }
    if (kind.held > 0 || !call.unit.empty()) arguments.push_back(std::to_string(kind.held));
    if (!call.unit.empty()) arguments.push_back(call.unit);
    kind = {now, true, 0};
    const ChildProcess child = StartProgram(program_, arguments);
    if (child != kNoChild) {
        running_.push_back({child, now, arguments[0]});
        return;
    }
    std::fprintf(stderr, "%s %s could not be started for the event %s; check %s.\n",
                 words_.command.c_str(), program_.c_str(), arguments[0].c_str(),
                 words_.setting.c_str());
    if (trouble_) trouble_("Monitoring: the notify command could not be started");
}

// A failed call is said once; a call and what it left running in its group
// are timed together and ended past longestRun_.
void Notifier::Reap() {
    for (auto it = running_.begin(); it != running_.end();) {
        int exitCode = 0;
        if (!it->leaderEnded && ProgramEnded(it->child, exitCode)) {
            it->leaderEnded = true;
            if (exitCode != 0) {
                const std::string how =
                    exitCode < 0 ? "a signal" : "exit status " + std::to_string(exitCode);
                std::fprintf(stderr,
                             "%s %s ended with %s for the event %s; check "
                             "the command by running it by hand.\n",
                             words_.command.c_str(), program_.c_str(), how.c_str(),
                             it->event.c_str());
                if (trouble_) trouble_("Monitoring: the notify command failed (" + it->event + ")");
            }
        }
        if (it->leaderEnded && !GroupRuns(it->child)) {
            it = running_.erase(it);
        } else if (Clock::now() - it->started > longestRun_) {
            EndGroup(it->child);
            std::fprintf(stderr, "%s %s ran longer than %g s and was ended.\n",
                         words_.command.c_str(), program_.c_str(),
                         static_cast<double>(longestRun_.count()) / 1000.0);
            it = running_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace varnholt

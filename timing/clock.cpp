#include "timing/clock.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace varnholt {
namespace {

int64_t appTicks = 0;
bool shutdownRequested = false;
std::atomic<bool> shutdownSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
std::function<void()> eventPump;
std::function<void(int)> sleeper;

}  // namespace

int64_t AppTicks() { return appTicks; }

void ResetTicksAndShutdown() {
    appTicks = 0;
    shutdownRequested = false;
    shutdownSignalled = false;
}

void AddAppTick() { ++appTicks; }

void InstallEventPump(std::function<void()> pump) { eventPump = std::move(pump); }

void ProcessPendingEvents() {
    if (eventPump) eventPump();
}

void DelayTicks(int32_t ticks) {
    const int64_t end = appTicks + ticks;
    while (appTicks < end && !ShutdownRequested()) ProcessPendingEvents();
}

bool WaitWhileRunning(int32_t ticks, const bool& runFlag) {
    const int64_t end = appTicks + ticks;
    while (runFlag && appTicks < end) ProcessPendingEvents();
    return runFlag;
}

void InstallSleep(std::function<void(int)> sleep) { sleeper = std::move(sleep); }

void Sleep(int milliseconds) {
    if (sleeper) {
        sleeper(milliseconds);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

void RequestShutdown() { shutdownRequested = true; }

bool ShutdownRequested() { return shutdownRequested || shutdownSignalled; }

void RequestShutdownFromSignal() { shutdownSignalled = true; }

bool ShutdownBySignal() { return shutdownSignalled; }

}  // namespace varnholt

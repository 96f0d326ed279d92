#pragma once

#include <cstdint>
#include <functional>

namespace varnholt {

// The system's only time base: every time-out, pause and period is counted in
// ticks of this length.
constexpr int kTickMilliseconds = 100;
constexpr int32_t kTicksPerSecond = 1000 / kTickMilliseconds;

// Count of 100 ms timer ticks since the window started. Held in 64 bits so
// that neither the counter nor a deadline can overflow on a long run.
int64_t AppTicks();
// The window's start-up: AppTicks = 0, and a shutdown requested by an earlier
// window (in the tests, an earlier case) is forgotten.
void ResetTicksAndShutdown();
// What the 100 ms timer's handler does: one tick.
void AddAppTick();

// Handles all pending window events and returns. The platform installs the
// real pump (the window's event loop, or a simulated bench in tests). Handlers
// run inside it re-entrantly: a click may clear a run flag mid-wait.
void InstallEventPump(std::function<void()> pump);
void ProcessPendingEvents();

// Waits until `ticks` further ticks have been counted; 0 or less returns at once.
void DelayTicks(int32_t ticks);
// Waits `ticks` ticks while runFlag stays set. Returns the flag: false means
// the test was stopped during the wait (or before it).
bool WaitWhileRunning(int32_t ticks, const bool& runFlag);

// Blocks the whole program, events included, for the given time. Tests
// install their own so that a simulated bench need not really wait.
void InstallSleep(std::function<void(int milliseconds)> sleep);
void Sleep(int milliseconds);

// The window is closing: waits and exchanges end at once and nothing more is
// sent to the devices.
void RequestShutdown();
bool ShutdownRequested();
// The same from a signal handler or another thread (a SIGTERM during the
// supply's blocking pause): safe there, and seen by the next check, so that
// nothing more is sent before the event loop gets to close the window.
void RequestShutdownFromSignal();
// A signal, not the window's close, asked for the end.
bool ShutdownBySignal();

}  // namespace varnholt

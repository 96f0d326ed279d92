// SIGTERM, SIGINT and SIGHUP on POSIX systems, turned into an event-loop call: a
// signal handler may only write a byte, never touch Qt or the running test.
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

#include "timing/clock.h"
#include "window/termination_signals.h"

namespace varnholt {
namespace {

int wakeUp[2] = {-1, -1};
std::function<void()> onRequest;

void OnSignal(int) {
    RequestShutdownFromSignal();
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeUp[0], &byte, 1);
}

}  // namespace

void OnTerminationRequest(std::function<void()> handler) {
    onRequest = std::move(handler);
    if (wakeUp[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeUp) != 0) return;
    auto* notifier = new QSocketNotifier(wakeUp[1], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        [[maybe_unused]] const ssize_t ignored = ::read(wakeUp[1], bytes, sizeof bytes);
        if (onRequest) onRequest();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // The terminal it was started from was closed.
    sigaction(SIGHUP, &action, nullptr);
}

}  // namespace varnholt

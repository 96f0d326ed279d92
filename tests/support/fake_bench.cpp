#include "tests/support/fake_bench.h"

#include "timing/clock.h"

namespace varnholt::testing {

void FakePort::CommPort(int16_t portNumber) {
    setup.push_back("CommPort " + std::to_string(portNumber));
}
void FakePort::Settings(const std::string& settings) { setup.push_back("Settings " + settings); }
void FakePort::InputLen(int length) { setup.push_back("InputLen " + std::to_string(length)); }

bool FakePort::PortOpen(bool open, OpenFailure& failure) {
    setup.push_back(open ? "PortOpen true" : "PortOpen false");
    if (openFailure.cause != OpenFailure::Cause::None) {
        failure = openFailure;
        return false;
    }
    if (!goneDevice.empty()) {
        if (!deviceBack) {
            failure = {OpenFailure::Cause::Missing, goneDevice, "No such file or directory"};
            return false;
        }
        goneDevice.clear();
    }
    opened = open;
    return true;
}

void FakePort::Output(const std::string& text) {
    if (!goneDevice.empty()) return;  // a closed line takes nothing
    sent.push_back({AppTicks(), text});
    if (onOutput) onOutput(text);
}

std::string FakePort::Input() {
    ++inputReads;
    // Under a real event loop nobody else delivers: bytes are due by the clock.
    DeliverDue(AppTicks());
    std::string out;
    out.swap(received_);
    return out;
}

void FakePort::ArriveAt(int64_t tick, const std::string& bytes) { scheduled_.emplace(tick, bytes); }

void FakePort::DeliverDue(int64_t tick) {
    while (!scheduled_.empty() && scheduled_.begin()->first <= tick) {
        received_ += scheduled_.begin()->second;
        scheduled_.erase(scheduled_.begin());
    }
}

std::string FakePort::Wire() const {
    std::string all;
    for (const auto& s : sent) all += s.text;
    return all;
}

FakeSupply::FakeSupply(FakePort& port) : port_(port) {
    port_.onOutput = [this](const std::string& text) {
        pending_ += text;
        for (size_t end; (end = pending_.find("\r\n")) != std::string::npos;) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            Line(line);
        }
    };
}

void FakeSupply::Line(const std::string& line) {
    if (silent || line == "SYST:REM") return;
    const int64_t due = AppTicks() + replyTicks;
    if (line == "*IDN?") {
        port_.ArriveAt(due, identity + "\r\n");
        return;
    }
    ++commands;
    if (line == "OUTP ON;SYST:ERR?") outputOn = true;
    if (line == "OUTP OFF;SYST:ERR?") outputOn = false;
    port_.ArriveAt(due, commands == failCommand ? errorReply : "+0,\"No error\"\r\n");
}

FakeShutter::FakeShutter(FakePort& port) : port_(port) {
    port_.onOutput = [this](const std::string& text) {
        pending_ += text;
        for (size_t end; (end = pending_.find('\r')) != std::string::npos;) {
            pending_.erase(0, end + 1);
            ++commands;
            if (silent || commands == silentCommand || !powered()) continue;
            const std::string junk = commands == failCommand ? "ERR JAM " : "";
            port_.ArriveAt(AppTicks() + moveTicks, junk + "RDY\r");
        }
    };
}

SimulatedPump::SimulatedPump() {
    ResetTicksAndShutdown();
    InstallEventPump([this] { Pump(); });
    InstallSleep([this](int ms) { sleeps.push_back(ms); });
}

SimulatedPump::~SimulatedPump() {
    InstallEventPump(nullptr);
    InstallSleep(nullptr);
}

void SimulatedPump::At(int64_t tick, std::function<void()> action) {
    actions_.emplace(tick, std::move(action));
}

void SimulatedPump::Pump() {
    ++pumps;
    AddAppTick();
    const int64_t now = AppTicks();
    for (FakePort* port : ports_) port->DeliverDue(now);
    while (!actions_.empty() && actions_.begin()->first <= now) {
        auto action = std::move(actions_.begin()->second);
        actions_.erase(actions_.begin());
        action();
    }
}

}  // namespace varnholt::testing

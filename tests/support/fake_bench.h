#pragma once

// A bench in software for unit tests: fake serial ports that record every
// byte sent with the tick it was sent at, scripted instruments that answer
// after a number of ticks, and an event pump that advances the clock by one
// tick per call, so every timing rule is exact and instant.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "instruments/serial_port.h"
#include "sequencing/status_line.h"

namespace varnholt::testing {

class FakePort : public SerialPort {
public:
    struct Sent {
        int64_t tick;
        std::string text;
    };

    void CommPort(int16_t portNumber) override;
    void Settings(const std::string& settings) override;
    void InputLen(int length) override;
    bool PortOpen(bool open, OpenFailure& failure) override;
    void Output(const std::string& text) override;
    std::string Input() override;
    std::string GoneDevice() const override { return goneDevice; }

    // The device goes away (a USB adapter pulled); it can be opened again
    // once deviceBack is set.
    void Unplug(const std::string& device) {
        goneDevice = device;
        deviceBack = false;
        received_.clear();
    }
    std::string goneDevice;
    bool deviceBack = false;

    // Bytes that are in the receive buffer now / that arrive at a tick.
    void Arrive(const std::string& bytes) { received_ += bytes; }
    void ArriveAt(int64_t tick, const std::string& bytes);
    void DeliverDue(int64_t tick);

    std::string Wire() const;        // everything sent, in order
    std::vector<std::string> setup;  // "CommPort 3", "Settings 9600,N,8,2", ...
    std::vector<Sent> sent;
    bool opened = false;
    OpenFailure openFailure;  // when it has a cause, PortOpen fails with it
    std::function<void(const std::string&)> onOutput;
    int inputReads = 0;

private:
    std::string received_;
    std::multimap<int64_t, std::string> scheduled_;
};

// A SCPI supply on a FakePort: answers each complete line after replyTicks.
class FakeSupply {
public:
    explicit FakeSupply(FakePort& port);
    std::string identity = "HEWLETT-PACKARD,E3631A,0,2.1-5.0-1.0";
    int replyTicks = 2;
    bool silent = false;
    // 1-based count of lines with an error query; that one gets errorReply.
    int failCommand = 0;
    std::string errorReply = "-222,\"Data out of range\"\r\n";
    bool outputOn = false;
    int commands = 0;

private:
    void Line(const std::string& line);
    FakePort& port_;
    std::string pending_;
};

// A shutter controller on a FakePort: "RDY" CR moveTicks after each command,
// and only while power() says the supply's output is on.
class FakeShutter {
public:
    explicit FakeShutter(FakePort& port);
    int moveTicks = 3;
    bool silent = false;
    std::function<bool()> powered = [] { return true; };
    int commands = 0;
    int failCommand = 0;    // 1-based; that command answers junk before "RDY"
    int silentCommand = 0;  // 1-based; that command gets no answer

private:
    FakePort& port_;
    std::string pending_;
};

class RecordingStatus : public StatusLine {
public:
    void SetText(const std::string& text) override {
        texts.push_back(text);
        if (onText) onText(text);
    }
    std::function<void(const std::string&)> onText;
    std::string Last() const { return texts.empty() ? std::string() : texts.back(); }
    std::vector<std::string> texts;
};

// Installs the one-tick-per-call pump and a non-blocking Sleep, and resets
// the clock to 0. Actions scheduled for a tick run right after it is counted.
class SimulatedPump {
public:
    SimulatedPump();
    ~SimulatedPump();
    void Attach(FakePort& port) { ports_.push_back(&port); }
    void At(int64_t tick, std::function<void()> action);
    int64_t pumps = 0;
    std::vector<int> sleeps;  // milliseconds asked of Sleep

private:
    void Pump();
    std::vector<FakePort*> ports_;
    std::multimap<int64_t, std::function<void()>> actions_;
};

}  // namespace varnholt::testing

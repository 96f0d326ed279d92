#pragma once

#include <QSerialPort>
#include <cstdint>
#include <functional>
#include <string>

#include "instruments/serial_port.h"

namespace varnholt {

// A SerialPort on a real serial device through Qt SerialPort. Whoever makes
// it says how a port number maps to a device (empty: no device).
class QtSerialPort : public SerialPort {
public:
    using Resolver = std::function<std::string(int portNumber)>;
    explicit QtSerialPort(Resolver resolve);
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    void CommPort(int16_t portNumber) override;
    void Settings(const std::string& settings) override;
    void InputLen(int length) override;
    bool PortOpen(bool open, OpenFailure& failure) override;
    void Output(const std::string& text) override;
    std::string Input() override;
    void DiscardInput() override;
    std::string GoneDevice() const override;

    // Every chunk sent to or read from any port goes here while set: the
    // device's name, true for sent, the bytes.
    using Trace =
        std::function<void(const std::string& device, bool sent, const std::string& bytes)>;
    static void SetTrace(Trace trace);

    // Counts reads that returned bytes, on every port. The event pump uses it
    // to avoid blocking right after a read that may have completed a reply.
    static uint64_t InputsDelivered();

    QSerialPort& Device() { return port_; }

private:
    // The device went away: close it so that no notifier is left armed on a
    // descriptor that reports hang-up for ever.
    void MarkGone();
    void CloseGone();
    void Unlock();

    Resolver resolve_;
    int16_t number_ = 0;
    std::string settings_;
    std::string path_;  // the device opened last
    std::string left_;  // read from a line that then went away
    QSerialPort port_;
    bool gone_ = false;
    std::intptr_t lock_ = -1;  // our own hold on the device, taken before Qt's open
};

// "9600,N,8,2" into its parts; false when the text is not such a setting.
struct LineSettings {
    int baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
bool ParseLineSettings(const std::string& text, LineSettings& settings);

}  // namespace varnholt

#include "instruments/qt_serial_port.h"

#include <QTimer>
#include <sstream>
#include <utility>
#include <vector>

#include "instruments/line_exchange.h"
#include "instruments/serial_guard.h"

namespace varnholt {
namespace {

uint64_t inputsDelivered = 0;
QtSerialPort::Trace trace;

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, ',');) parts.push_back(part);
    return parts;
}

OpenFailure::Cause CauseOf(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return OpenFailure::Cause::Missing;
        case QSerialPort::PermissionError:
            return OpenFailure::Cause::NoPermission;
        case QSerialPort::OpenError:
            return OpenFailure::Cause::InUse;
        default:
            return OpenFailure::Cause::Other;
    }
}

}  // namespace

bool ParseLineSettings(const std::string& text, LineSettings& settings) {
    const auto parts = SplitCommas(text);
    if (parts.size() != 4) return false;
    try {
        size_t used = 0;
        settings.baud = std::stoi(parts[0], &used);
        if (used != parts[0].size() || settings.baud <= 0) return false;
    } catch (...) {
        return false;
    }
    const std::string& parity = parts[1];
    if (parity == "N" || parity == "n")
        settings.parity = QSerialPort::NoParity;
    else if (parity == "E" || parity == "e")
        settings.parity = QSerialPort::EvenParity;
    else if (parity == "O" || parity == "o")
        settings.parity = QSerialPort::OddParity;
    else if (parity == "M" || parity == "m")
        settings.parity = QSerialPort::MarkParity;
    else if (parity == "S" || parity == "s")
        settings.parity = QSerialPort::SpaceParity;
    else
        return false;
    if (parts[2] == "5")
        settings.dataBits = QSerialPort::Data5;
    else if (parts[2] == "6")
        settings.dataBits = QSerialPort::Data6;
    else if (parts[2] == "7")
        settings.dataBits = QSerialPort::Data7;
    else if (parts[2] == "8")
        settings.dataBits = QSerialPort::Data8;
    else
        return false;
    if (parts[3] == "1")
        settings.stopBits = QSerialPort::OneStop;
    else if (parts[3] == "1.5")
        settings.stopBits = QSerialPort::OneAndHalfStop;
    else if (parts[3] == "2")
        settings.stopBits = QSerialPort::TwoStop;
    else
        return false;
    return true;
}

QtSerialPort::QtSerialPort(Resolver resolve) : resolve_(std::move(resolve)) {
    // Qt 6.4 can take a zero-length read for an error; Input reads by polling
    // the device itself, so a cleared read error loses nothing. But a hung-up
    // line reads zero bytes for ever: clearing its error would re-arm Qt's
    // notifier and spin, so such a line is closed instead.
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError || gone_ || !port_.isOpen()) return;
        if (e == QSerialPort::ResourceError ||
            (e == QSerialPort::ReadError && PollLine(NativeHandle(port_.handle())).hungUp)) {
            MarkGone();
        } else if (e == QSerialPort::ReadError || e == QSerialPort::TimeoutError) {
            port_.clearError();
        }
    });
}

void QtSerialPort::MarkGone() {
    gone_ = true;
    // Not closed from inside Qt's own signal (its notifier is on the stack);
    // the next turn of the event loop does it, and Input does it at once.
    QTimer::singleShot(0, &port_, [this] { CloseGone(); });
}

std::string QtSerialPort::GoneDevice() const { return gone_ ? path_ : std::string(); }

void QtSerialPort::CommPort(int16_t portNumber) { number_ = portNumber; }

void QtSerialPort::Settings(const std::string& settings) { settings_ = settings; }

void QtSerialPort::InputLen(int) {}

void QtSerialPort::Unlock() {
    UnlockDevice(lock_);
    lock_ = kNoLock;
}

QtSerialPort::~QtSerialPort() {
    if (port_.isOpen()) port_.close();
    Unlock();
}

bool QtSerialPort::PortOpen(bool open, OpenFailure& failure) {
    if (port_.isOpen()) port_.close();
    Unlock();
    left_.clear();
    if (!open) return true;
    const std::string path = resolve_ ? resolve_(number_) : std::string();
    if (path.empty()) {
        failure = {OpenFailure::Cause::NoDevice, "", ""};
        return false;
    }
    LineSettings line;
    if (!ParseLineSettings(settings_, line)) {
        failure = {OpenFailure::Cause::BadSettings, path,
                   "the line settings '" + settings_ + "' are not valid"};
        return false;
    }
    bool inUse = false;
    lock_ = LockDevice(path, inUse);
    if (inUse) {
        failure = {OpenFailure::Cause::InUse, path, "it is in use by another program"};
        return false;
    }
    port_.setPortName(QString::fromStdString(path));
    // A device that talks while no exchange waits must not grow Qt's buffer
    // without end; the driver holds (and then drops) the rest.
    port_.setReadBufferSize(static_cast<qint64>(kMaxReplyLength));
    if (!port_.open(QIODevice::ReadWrite)) {
        Unlock();
        failure = {CauseOf(port_.error()), path, port_.errorString().toStdString()};
        // Qt reports a device locked by another program as a permission
        // error; the operator must not be sent after the dialout group.
        if (failure.cause == OpenFailure::Cause::NoPermission && MayOpen(path)) {
            failure.cause = OpenFailure::Cause::InUse;
        }
        return false;
    }
    const bool configured = port_.setBaudRate(line.baud) && port_.setDataBits(line.dataBits) &&
                            port_.setParity(line.parity) && port_.setStopBits(line.stopBits) &&
                            port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        failure = {OpenFailure::Cause::BadSettings, path,
                   "it does not take the settings " + settings_ + " (" +
                       port_.errorString().toStdString() + ")"};
        port_.close();
        Unlock();
        return false;
    }
    // Qt 6.4 can leave bytes from before the open in its buffers; they belong
    // to nobody's exchange.
    DiscardPendingBytes(NativeHandle(port_.handle()));
    port_.clear(QSerialPort::AllDirections);
    port_.readAll();
    path_ = path;
    gone_ = false;
    return true;
}

void QtSerialPort::SetTrace(Trace t) { trace = std::move(t); }

void QtSerialPort::Output(const std::string& text) {
    if (!port_.isOpen() || gone_) return;
    if (trace) trace(path_, true, text);
    port_.write(text.data(), static_cast<qint64>(text.size()));
    port_.flush();
}

void QtSerialPort::CloseGone() {
    if (!gone_ || !port_.isOpen()) return;
    // What arrived before the line went is still the device's answer.
    const QByteArray data = port_.readAll();
    left_.append(data.constData(), static_cast<size_t>(data.size()));
    port_.close();
    Unlock();
}

std::string QtSerialPort::Input() {
    if (gone_) {
        CloseGone();
        std::string data;
        data.swap(left_);
        if (trace && !data.empty()) trace(path_, false, data);
        return data;
    }
    if (!port_.isOpen()) return {};
    const LineState line = PollLine(NativeHandle(port_.handle()));
    // Pull bytes straight from the device when Qt's own notification has not
    // (it may have been switched off by a spurious read error).
    if (port_.bytesAvailable() == 0 && line.readable) port_.waitForReadyRead(0);
    QByteArray data = port_.readAll();
    // Qt stops reading at its buffer's cap; what babbles on past it is read
    // and thrown away here (the newest reply's worth kept), so the system's
    // buffer never holds stale bytes for the next exchange. Bounded work a
    // call: a line flooding without end cannot hold the event loop.
    for (int more = 0; more < 16 && data.size() >= static_cast<qsizetype>(kMaxReplyLength) &&
                       PollLine(NativeHandle(port_.handle())).readable;
         ++more) {
        port_.waitForReadyRead(0);
        data += port_.readAll();
        if (data.size() > static_cast<qsizetype>(kMaxReplyLength)) {
            data.remove(0, data.size() - static_cast<qsizetype>(kMaxReplyLength));
        }
    }
    if (line.hungUp) {
        gone_ = true;
        CloseGone();
    }
    if (data.isEmpty()) return {};
    ++inputsDelivered;
    std::string bytes(data.constData(), static_cast<size_t>(data.size()));
    if (trace) trace(path_, false, bytes);
    return bytes;
}

void QtSerialPort::DiscardInput() {
    if (gone_ || !port_.isOpen()) {
        Input();
        return;
    }
    // Empties the driver's receive buffer too (tcflush, or PurgeComm on
    // Windows); what is being sent stays.
    port_.clear(QSerialPort::Input);
    port_.readAll();
}

uint64_t QtSerialPort::InputsDelivered() { return inputsDelivered; }

}  // namespace varnholt

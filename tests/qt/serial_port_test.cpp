#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>

#include "instruments/line_exchange.h"
#include "instruments/qt_serial_port.h"
#include "settings/serial_devices.h"
#include "tests/qt/pty_pair.h"

namespace varnholt {
namespace {

using testing::PtyPair;

std::string Collect(QtSerialPort& port, size_t count, int timeoutMs = 3000) {
    std::string got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count && timer.elapsed() < timeoutMs) {
        got += port.Input();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return got;
}

class SerialAdapterTest : public ::testing::Test {
protected:
    bool Open(QtSerialPort& port, const std::string& settings) {
        port.CommPort(3);
        port.Settings(settings);
        port.InputLen(0);
        if (port.PortOpen(true, failure)) return true;
        errorText = failure.reason;
        return false;
    }
    QtSerialPort::Resolver ToPty() {
        return [this](int n) { return n == 3 ? pty.slavePath : std::string(); };
    }

    PtyPair pty;
    OpenFailure failure;
    std::string errorText;
};

TEST_F(SerialAdapterTest, LineSettingsReachTheDevice) {
    for (const auto& [settings, twoStops] :
         {std::pair{"9600,N,8,1", false}, std::pair{"9600,N,8,2", true}}) {
        QtSerialPort port(ToPty());
        ASSERT_TRUE(Open(port, settings)) << errorText;
        termios tio{};
        ASSERT_EQ(tcgetattr(static_cast<int>(port.Device().handle()), &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), B9600);
        EXPECT_EQ(cfgetispeed(&tio), B9600);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & PARENB, 0u);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, twoStops) << settings;
        EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    }
}

TEST_F(SerialAdapterTest, EveryByteValuePassesUnchangedBothWays) {
    QtSerialPort port(ToPty());
    ASSERT_TRUE(Open(port, "9600,N,8,2")) << errorText;
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));

    pty.Write(all);
    EXPECT_EQ(Collect(port, all.size()), all);

    port.Output(all);
    QCoreApplication::processEvents();
    EXPECT_EQ(pty.Read(all.size()), all);
}

TEST_F(SerialAdapterTest, InputNeverWaitsAndRemovesWhatItReturns) {
    QtSerialPort port(ToPty());
    ASSERT_TRUE(Open(port, "9600,N,8,1")) << errorText;
    // Nothing is ever written here, so an Input that waited for data would
    // never return, and one that waited a while would take minutes for these.
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(port.Input(), "");
    EXPECT_LT(timer.elapsed(), 10'000);
    pty.Write("RDY\r");
    EXPECT_EQ(Collect(port, 4), "RDY\r");
    EXPECT_EQ(port.Input(), "");
}

TEST_F(SerialAdapterTest, BytesFromBeforeTheOpenAreDiscarded) {
    pty.Write("stale reply\r\n");
    QtSerialPort port(ToPty());
    ASSERT_TRUE(Open(port, "9600,N,8,2")) << errorText;
    pty.Write("+0\r\n");
    EXPECT_EQ(Collect(port, 4), "+0\r\n");
}

TEST_F(SerialAdapterTest, LongExchangeNeverStalls) {
    QtSerialPort port(ToPty());
    ASSERT_TRUE(Open(port, "9600,N,8,2")) << errorText;
    for (int i = 0; i < 2000; ++i) {
        const std::string line = "OUTP ON;SYST:ERR?" + std::to_string(i) + "\r\n";
        port.Output(line);
        ASSERT_EQ(pty.Read(line.size()), line) << "round " << i;
        const std::string reply = "+0,\"No error\" " + std::to_string(i) + "\r\n";
        // Replies in two pieces, the way a slow instrument sends them.
        pty.Write(reply.substr(0, 5));
        pty.Write(reply.substr(5));
        ASSERT_EQ(Collect(port, reply.size()), reply) << "round " << i;
    }
}

TEST_F(SerialAdapterTest, MissingDeviceFailsWithASentence) {
    QtSerialPort port([](int) { return "/dev/varnholt-no-such-tty"; });
    port.CommPort(4);
    port.Settings("9600,N,8,2");
    EXPECT_FALSE(port.PortOpen(true, failure));
    EXPECT_EQ(failure.cause, OpenFailure::Cause::Missing);
    // Worded by the configuration, which knows the key.
    errorText = SerialOpenFailure(SerialRole::PowerSupply, 4, failure);
    EXPECT_EQ(errorText.rfind("Cannot open serial port 4 (/dev/varnholt-no-such-tty) for the "
                              "power supply: No such file or directory. Check PowerSupplyPort "
                              "in [Communications] of kestrane.ini",
                              0),
              0u)
        << errorText;
    EXPECT_EQ(port.Input(), "");
    port.Output("ignored\r\n");  // must not crash on a port that never opened
}

TEST_F(SerialAdapterTest, NumberThatMapsToNothingTellsWhichKeyToSet) {
    QtSerialPort port(SerialDevicePath);
    port.CommPort(-1);
    port.Settings("9600,N,8,2");
    EXPECT_FALSE(port.PortOpen(true, failure));
    EXPECT_EQ(failure.cause, OpenFailure::Cause::NoDevice);
    errorText = SerialOpenFailure(SerialRole::PowerSupply, -1, failure);
    EXPECT_EQ(errorText.rfind("Cannot open serial port -1 for the power supply: set "
                              "PowerSupplyPort in [Communications] of kestrane.ini "
                              "(0 = no power supply)",
                              0),
              0u)
        << errorText;
}

TEST_F(SerialAdapterTest, BadSettingsTextFailsInsteadOfOpening) {
    QtSerialPort port(ToPty());
    EXPECT_FALSE(Open(port, "9600;N;8;1"));
    EXPECT_NE(errorText.find("the line settings '9600;N;8;1' are not valid"), std::string::npos);
    LineSettings line;
    EXPECT_TRUE(ParseLineSettings("19200,E,7,1.5", line));
    EXPECT_EQ(line.baud, 19200);
    EXPECT_EQ(line.parity, QSerialPort::EvenParity);
    EXPECT_EQ(line.dataBits, QSerialPort::Data7);
    EXPECT_EQ(line.stopBits, QSerialPort::OneAndHalfStop);
    EXPECT_FALSE(ParseLineSettings("fast,N,8,1", line));
    EXPECT_FALSE(ParseLineSettings("9600,X,8,1", line));
    EXPECT_FALSE(ParseLineSettings("9600,N,9,1", line));
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

// Nothing may reach a device another program (or another copy) holds, even
// as root and through another path to the same device.
TEST_F(SerialAdapterTest, ASecondOpenerOfTheSameDeviceIsRefusedAsInUse) {
    QtSerialPort first(ToPty());
    ASSERT_TRUE(Open(first, "9600,N,8,1")) << errorText;
    const std::string link = "/tmp/varnholt-test-link-" + std::to_string(::getpid());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.slavePath, link);
    for (const std::string& path : {pty.slavePath, link}) {
        QtSerialPort second([&path](int) { return path; });
        OpenFailure refused;
        second.CommPort(3);
        second.Settings("9600,N,8,1");
        EXPECT_FALSE(second.PortOpen(true, refused)) << path;
        EXPECT_EQ(refused.cause, OpenFailure::Cause::InUse) << path << ": " << refused.reason;
        second.Output("*RST\r\n");  // must go nowhere
        EXPECT_EQ(
            SerialOpenFailure(SerialRole::Shutter, 3, refused),
            "Cannot open serial port 3 (" + path +
                ") for the shutter: it is in use by "
                "another program. Close the other program (another copy of Varnholt?) or give "
                "each program its own port.");
    }
    std::filesystem::remove(link);
    EXPECT_EQ(pty.Read(1, 200), "");
    first.Output("OPEN\r");
    EXPECT_EQ(pty.Read(5), "OPEN\r");
    // The refused openers left the terminal's exclusive mode alone: other
    // programs (but root) still cannot open the first copy's line.
    const int probe = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe >= 0) {  // only root gets this far
        int exclusive = 0;
        ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        ::close(probe);
        EXPECT_EQ(exclusive, 1);
    }
}

// A device that babbles while nothing waits for a reply: what is kept stays
// within one reply's size, and the line still works afterwards.
TEST_F(SerialAdapterTest, BytesArrivingWhileIdleAreKeptWithinOneReply) {
    QtSerialPort port(ToPty());
    ASSERT_TRUE(Open(port, "9600,N,8,1")) << errorText;
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    const std::string chunk(65536, 'Z');
    size_t written = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1500) {
        const ssize_t n = ::write(pty.master, chunk.data(), chunk.size());
        if (n > 0) written += static_cast<size_t>(n);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        EXPECT_LE(port.Device().bytesAvailable(), static_cast<qint64>(kMaxReplyLength));
    }
    EXPECT_GT(written, kMaxReplyLength);
    EXPECT_LE(port.Input().size(), kMaxReplyLength);
    // The babble stops; the discard before a command leaves nothing of it,
    // in Qt's buffer or the system's, and the reply arrives alone.
    port.DiscardInput();
    port.Output("OPEN\r");
    EXPECT_EQ(pty.Read(5), "OPEN\r");
    pty.Write("RDY\r");
    EXPECT_EQ(Collect(port, 4, 1000), "RDY\r");
}

TEST_F(SerialAdapterTest, ALineThatHangsUpIsClosedAndReportedGone) {
    QtSerialPort port(ToPty());
    ASSERT_TRUE(Open(port, "9600,N,8,1")) << errorText;
    EXPECT_EQ(port.GoneDevice(), "");
    const std::string path = pty.slavePath;
    pty.Hangup();
    // Idle: Qt's own notifier sees the hang-up; no exchange needs to read.
    QElapsedTimer timer;
    timer.start();
    while (port.GoneDevice().empty() && timer.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (port.GoneDevice().empty()) port.Input();  // an exchange's read sees it too
    EXPECT_EQ(port.GoneDevice(), path);
    QCoreApplication::processEvents();
    EXPECT_FALSE(port.Device().isOpen());  // no descriptor, no notifier left to spin
    EXPECT_EQ(port.Input(), "");
    port.Output("OPEN\r");  // a write to the closed line is harmless
    // The device is not back: opening it again fails and it stays gone.
    OpenFailure again;
    EXPECT_FALSE(port.PortOpen(true, again));
}

}  // namespace
}  // namespace varnholt

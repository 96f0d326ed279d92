#include "sequencing/configuration.h"

#include <gmock/gmock.h>

#include "settings/monitoring_settings.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>

#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "sequencing/run_flags.h"
#include "settings/ini_file.h"
#include "settings/kestrane_ini.h"
#include "settings/serial_devices.h"
#include "tests/support/fake_bench.h"
#include "tests/support/temp_dir.h"
#include "timing/clock.h"

namespace varnholt {
namespace {

using ::testing::ElementsAre;
using testing::FakePort;
using testing::FakeShutter;
using testing::FakeSupply;
using ::testing::IsEmpty;
using testing::SimulatedPump;
using testing::WorkingFolder;

class StartUpTest : public ::testing::Test {
protected:
    StartUpTest() {
        pump.Attach(supplyPort);
        pump.Attach(shutterPort);
        BindPowerSupplyPort(&supplyPort);
        BindShutterPort(&shutterPort);
        std::string ignored;
        ShutterInit(0, ignored);  // a fresh run: the shutter starts switched off
        shutterPort.setup.clear();
    }
    ~StartUpTest() override {
        BindPowerSupplyPort(nullptr);
        BindShutterPort(nullptr);
    }

    WorkingFolder folder;
    SimulatedPump pump;
    FakePort supplyPort, shutterPort;
    FakeSupply supply{supplyPort};
    FakeShutter shutter{shutterPort};
    std::string errorText;
};

TEST_F(StartUpTest, BringsUpTheSupplyThenTheShutter) {
    folder.Write("kestrane.ini",
                 "[TestPeriods]\nSampleTimePeriod=3\nPowerOffPeriod=4\n"
                 "[Communications]\nPowerSupplyPort=2\nShutterPort=1\n");
    CycleTestRunning() = true;
    PowerCutTestRunning() = true;
    ASSERT_TRUE(LoadConfiguration(errorText)) << errorText;
    EXPECT_EQ(errorText, "");
    EXPECT_FALSE(CycleTestRunning());
    EXPECT_FALSE(PowerCutTestRunning());
    EXPECT_EQ(SampleTimeTicks(), 30);
    EXPECT_EQ(PowerOffTicks(), 40);
    EXPECT_THAT(supplyPort.setup,
                ElementsAre("CommPort 2", "Settings 9600,N,8,2", "InputLen 0", "PortOpen true"));
    EXPECT_THAT(shutterPort.setup,
                ElementsAre("CommPort 1", "Settings 9600,N,8,1", "InputLen 0", "PortOpen true"));
    EXPECT_TRUE(shutterPort.sent.empty());
}

TEST_F(StartUpTest, SupplyFailureLeavesTheShutterUnopenedAndOff) {
    folder.Write("kestrane.ini", "[Communications]\nPowerSupplyPort=2\nShutterPort=1\n");
    supply.silent = true;
    EXPECT_FALSE(LoadConfiguration(errorText));
    EXPECT_EQ(errorText, "-1 Timed out waiting for power supply");
    EXPECT_THAT(shutterPort.setup, IsEmpty());
    EXPECT_TRUE(OpenShutter(errorText));  // switched off: nothing is sent
    EXPECT_TRUE(shutterPort.sent.empty());
}

TEST_F(StartUpTest, BadIdentityIsReturnedUnchanged) {
    folder.Write("kestrane.ini", "[Communications]\nPowerSupplyPort=2\nShutterPort=1\n");
    supply.identity = "AGILENT,E3631A";
    EXPECT_FALSE(LoadConfiguration(errorText));
    EXPECT_EQ(errorText, "Bad ID: AGILENT,E3631A\r\n");
}

TEST_F(StartUpTest, PortsZeroTouchNothingAndEveryOperationSucceedsAtOnce) {
    folder.Write("kestrane.ini", "[Communications]\nPowerSupplyPort=0\nShutterPort=0\n");
    ASSERT_TRUE(LoadConfiguration(errorText)) << errorText;
    EXPECT_TRUE(PowerOn(errorText));
    EXPECT_TRUE(OpenShutter(errorText));
    EXPECT_TRUE(CloseShutter(errorText));
    EXPECT_TRUE(PowerOff(errorText));
    EXPECT_THAT(supplyPort.setup, IsEmpty());
    EXPECT_THAT(shutterPort.setup, IsEmpty());
    EXPECT_EQ(pump.pumps, 0);
}

TEST_F(StartUpTest, NoFileGivesDefaultsAndHandsPortMinusOneToTheSerialLayer) {
    supplyPort.openFailure = {OpenFailure::Cause::NoDevice, "", ""};
    EXPECT_FALSE(LoadConfiguration(errorText));
    EXPECT_EQ(SampleTimeTicks(), 20);
    EXPECT_EQ(PowerOffTicks(), 20);
    EXPECT_THAT(supplyPort.setup,
                ElementsAre("CommPort -1", "Settings 9600,N,8,2", "InputLen 0", "PortOpen true"));
    EXPECT_THAT(shutterPort.setup, IsEmpty());
    // The sentence for it tells the operator what to do.
    EXPECT_EQ(errorText,
              "Cannot open serial port -1 for the power supply: set PowerSupplyPort in "
              "[Communications] of kestrane.ini (0 = no power supply); there is no kestrane.ini "
              "in " +
                  folder.path() + ": copy the commented example " + kExampleIni + " there.");
}

TEST_F(StartUpTest, ZeroSampleTimeGivesZeroTicks) {
    folder.Write("kestrane.ini",
                 "[TestPeriods]\nSampleTimePeriod=0\n[Communications]\nPowerSupplyPort=0\n"
                 "ShutterPort=0\n");
    ASSERT_TRUE(LoadConfiguration(errorText));
    EXPECT_EQ(SampleTimeTicks(), 0);
    EXPECT_EQ(PowerOffTicks(), 20);
}

TEST_F(StartUpTest, ValuesThatAreNotWholeNumbersStopTheStartUpBeforeAnyPortOpens) {
    const std::pair<std::string, std::string> cases[] = {
        {"[Communications]\nPowerSupplyPort=COM4\nShutterPort=1\n",
         "kestrane.ini: [Communications] PowerSupplyPort = 'COM4' is not a whole number; give "
         "the serial port number, 0 for no power supply."},
        {"[Communications]\nPowerSupplyPort=2\nShutterPort=\n",
         "kestrane.ini: [Communications] ShutterPort = '' is not a whole number; give the serial "
         "port number, 0 for no shutter."},
        {"[TestPeriods]\nSampleTimePeriod=2s\n",
         "kestrane.ini: [TestPeriods] SampleTimePeriod = '2s' is not a whole number; give the "
         "period in whole seconds."},
        {"[TestPeriods]\nPowerOffPeriod=1.5\n",
         "kestrane.ini: [TestPeriods] PowerOffPeriod = '1.5' is not a whole number; give the "
         "period in whole seconds."},
        {"[TestPeriods]\nPowerOffPeriod=-3\n",
         "kestrane.ini: [TestPeriods] PowerOffPeriod = '-3' is negative; give the period in "
         "whole seconds (0 or more)."},
        {"[TestPeriods]\nSampleTimePeriod=214748365\n",
         "kestrane.ini: [TestPeriods] SampleTimePeriod = '214748365' is too long; give the "
         "period in whole seconds, at most 214748364."},
        {"[Communications]\nShutterPort=32768\n",
         "kestrane.ini: [Communications] ShutterPort = '32768' is outside -32768..32767; give the "
         "serial port number, 0 for no shutter."},
        {"[Communications]\nPowerSupplyPort=99999999999999999999999\n",
         "kestrane.ini: [Communications] PowerSupplyPort = '99999999999999999999999' is outside "
         "-32768..32767; give the serial port number, 0 for no power supply."},
    };
    for (const auto& [ini, sentence] : cases) {
        folder.Write("kestrane.ini", ini);
        EXPECT_FALSE(LoadConfiguration(errorText)) << ini;
        EXPECT_EQ(errorText, sentence);
    }
    EXPECT_THAT(supplyPort.setup, IsEmpty());
    EXPECT_THAT(shutterPort.setup, IsEmpty());
}

// Reading real files, the way the operator writes them.
class IniFileTest : public ::testing::Test {
protected:
    std::optional<BenchSettings> Read(const std::string& text) {
        folder.Write("kestrane.ini", text);
        IniFile ini;
        EXPECT_TRUE(ReadIniFile("kestrane.ini", ini, errorText)) << errorText;
        return ReadBenchSettings(ini, errorText);
    }
    WorkingFolder folder;
    std::string errorText;
};

TEST_F(IniFileTest, NamesMatchWithoutRegardToCaseAndBlanksAndSignsAreAllowed) {
    const auto s = Read(
        "; bench 3\n# shutter rig\n[testperiods]\n  SAMPLETIMEPERIOD =  +5  \n"
        "[COMMUNICATIONS]\npowersupplyport\t=\t-2\nShutterPort = 0 ; no shutter today\n");
    ASSERT_TRUE(s) << errorText;
    EXPECT_EQ(s->sampleTimeTicks, 50);
    EXPECT_EQ(s->powerOffTicks, 20);
    EXPECT_EQ(s->powerSupplyPort, -2);
    EXPECT_EQ(s->shutterPort, 0);
    EXPECT_TRUE(s->powerSupplyPortGiven);
}

TEST_F(IniFileTest, MissingSectionsAndKeysGiveTheDefaults) {
    for (const char* text : {"", "[TestPeriods]\n", "[Other]\nShutterPort=4\n",
                             "[Communications]\nShutterPortX=4\n"}) {
        const auto s = Read(text);
        ASSERT_TRUE(s) << text;
        EXPECT_EQ(s->sampleTimeTicks, 20);
        EXPECT_EQ(s->powerOffTicks, 20);
        EXPECT_EQ(s->powerSupplyPort, -1);
        EXPECT_EQ(s->shutterPort, -1);
        EXPECT_FALSE(s->shutterPortGiven);
    }
}

TEST_F(IniFileTest, LongestPeriodAndPortLimitsAreAccepted) {
    const auto s = Read(
        "[TestPeriods]\nSampleTimePeriod=214748364\n[Communications]\nPowerSupplyPort=-32768\n"
        "ShutterPort=32767\n");
    ASSERT_TRUE(s) << errorText;
    EXPECT_EQ(s->sampleTimeTicks, 2147483640);
    EXPECT_EQ(s->powerSupplyPort, -32768);
    EXPECT_EQ(s->shutterPort, 32767);
}

TEST_F(IniFileTest, SerialDevicesMapPortNumbersToDevices) {
    folder.Write("kestrane.ini",
                 "[Communications]\nPowerSupplyPort=0\nShutterPort=0\n"
                 "[serialdevices]\nport3 = /dev/ttyUSB0\nPort12=/dev/pts/7\n");
    ASSERT_TRUE(LoadConfiguration(errorText));
    EXPECT_EQ(SerialDevicePath(3), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath(12), "/dev/pts/7");
#ifdef _WIN32
    EXPECT_EQ(SerialDevicePath(1), "COM1");
    EXPECT_EQ(SerialDevicePath(14), "COM14");
#else
    EXPECT_EQ(SerialDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(SerialDevicePath(4), "/dev/ttyS3");
#endif
    EXPECT_EQ(SerialDevicePath(0), "");
    EXPECT_EQ(SerialDevicePath(-1), "");
    EXPECT_EQ(SerialOpenFailure(SerialRole::Shutter, 4, "/dev/ttyS3", "Permission denied"),
              "Cannot open serial port 4 (/dev/ttyS3) for the shutter: Permission denied. Check "
              "ShutterPort in [Communications] of kestrane.ini, or map the port in "
              "[SerialDevices] as Port4=/dev/....");
}

TEST_F(StartUpTest, OnlyPortNumbersFromOneUpCanBeMapped) {
    folder.Write("kestrane.ini",
                 "[Communications]\nPowerSupplyPort=0\nShutterPort=0\n"
                 "[SerialDevices]\nPort-1=/dev/null\nPort0=/dev/null\n"
                 "Port1=/dev/ttyUSB4\n");
    ASSERT_TRUE(LoadConfiguration(errorText)) << errorText;
    EXPECT_EQ(SerialDevicePath(-1), "");
    EXPECT_EQ(SerialDevicePath(0), "");
    EXPECT_EQ(SerialDevicePath(1), "/dev/ttyUSB4");
}

// Files the reader would hang on or misread in silence are refused before
// it touches them, with the file's name and what is wrong.
class HostileIniTest : public StartUpTest {
protected:
    void ExpectRefused(const std::string& start) {
        EXPECT_FALSE(LoadConfiguration(errorText));
        EXPECT_EQ(errorText.rfind(start, 0), 0u) << errorText;
        EXPECT_THAT(supplyPort.setup, IsEmpty());
        EXPECT_THAT(shutterPort.setup, IsEmpty());
    }
};

TEST_F(HostileIniTest, AFolderIsNotRead) {
    std::filesystem::create_directory("kestrane.ini");
    ExpectRefused("kestrane.ini in " + folder.path() + " is a folder, not a plain file");
}

TEST_F(HostileIniTest, AFifoOrADeviceIsNotRead) {
#ifdef _WIN32
    GTEST_SKIP()
        << "no FIFOs or /dev/zero on Windows; a folder is refused alike (AFolderIsNotRead)";
#else
    ASSERT_EQ(::mkfifo("kestrane.ini", 0600), 0);  // opening it would block for good
    ExpectRefused("kestrane.ini in " + folder.path() + " is a named pipe (FIFO), not a plain file");
    std::filesystem::remove("kestrane.ini");
    std::filesystem::create_symlink("/dev/zero", "kestrane.ini");  // reading it never ends
    ExpectRefused("kestrane.ini in " + folder.path() +
                  " (a link to /dev/zero) is a device, not a plain file; replace it");
#endif
}

TEST_F(HostileIniTest, AFileLargerThanAnyConfigurationIsRefused) {
    folder.Write("kestrane.ini", "[TestPeriods]\n" + std::string(kMaxIniFileBytes, ';') + "\n");
    ExpectRefused("kestrane.ini in " + folder.path() + " is 1048591 bytes long, more than any");
}

TEST_F(HostileIniTest, ALineTooLongForTheReaderIsRefusedNotCut) {
    // The reader would cut this comment at 199 characters and read its tail
    // as a key, switching the shutter off.
    const std::string comment = "; " + std::string(186, '-') + "ShutterPort=0";
    folder.Write("kestrane.ini",
                 "[Communications]\nPowerSupplyPort=0\n" + comment + "\nShutterPort=1\n");
    ExpectRefused("kestrane.ini line 3 is 201 characters long; a line can have at most 197");
    // The longest line it takes whole is fine.
    folder.Write("kestrane.ini", "[Communications]\nPowerSupplyPort=0\nShutterPort=0\n; " +
                                     std::string(195, 'x') + "\r\n");
    EXPECT_TRUE(LoadConfiguration(errorText)) << errorText;
}

TEST_F(HostileIniTest, SyntaxErrorsAreNamedByLine) {
    folder.Write("kestrane.ini", "[Communications\nPowerSupplyPort=0\nShutterPort=0\n");
    ExpectRefused(
        "kestrane.ini line 1 '[Communications' is not understood: the section name has "
        "no closing ']'.");
    folder.Write("kestrane.ini", "[Communications]\nPowerSupplyPort=0\nShutterPort 0\n");
    ExpectRefused(
        "kestrane.ini line 3 'ShutterPort 0' is not understood: it is neither "
        "[Section], Key=Value nor a ; comment.");
    folder.Write("kestrane.ini", std::string("[Communications]\nPowerSupplyPort=0\0\n", 35));
    ExpectRefused("kestrane.ini line 2 holds a NUL character");
}

TEST_F(HostileIniTest, MissingFileSectionOrKeyStillGivesTheDefaults) {
    folder.Write("kestrane.ini", "; nothing but a comment\n[Other]\nKey=1\n");
    supplyPort.openFailure = {OpenFailure::Cause::NoDevice, "", ""};
    EXPECT_FALSE(LoadConfiguration(errorText));
    EXPECT_THAT(supplyPort.setup,
                ElementsAre("CommPort -1", "Settings 9600,N,8,2", "InputLen 0", "PortOpen true"));
    EXPECT_EQ(SampleTimeTicks(), 20);
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

TEST_F(StartUpTest, TheTraceStartsBeforeAnyPortOpensAndOnlyWhenAsked) {
    std::vector<std::string> started;
    size_t supplySetupAtStart = 99;
    OnTraceFile([&](const std::string& file, std::string&) {
        started.push_back(file);
        supplySetupAtStart = supplyPort.setup.size();
        return true;
    });
    folder.Write("kestrane.ini", "[Communications]\nPowerSupplyPort=2\nShutterPort=0\n");
    ASSERT_TRUE(LoadConfiguration(errorText)) << errorText;
    EXPECT_THAT(started, IsEmpty());

    folder.Write("kestrane.ini",
                 "[Communications]\nPowerSupplyPort=2\nShutterPort=0\n"
                 "[diagnostics]\ntracefile = wire.txt   ; for the morning\n");
    supplyPort.setup.clear();
    ASSERT_TRUE(LoadConfiguration(errorText)) << errorText;
    EXPECT_THAT(started, ElementsAre("wire.txt"));
    EXPECT_EQ(supplySetupAtStart, 0u);

    // A trace that cannot be started stops the start-up with its sentence.
    OnTraceFile([](const std::string&, std::string& error) {
        error = "Cannot write the trace file wire.txt";
        return false;
    });
    supplyPort.setup.clear();
    EXPECT_FALSE(LoadConfiguration(errorText));
    EXPECT_EQ(errorText, "Cannot write the trace file wire.txt");
    EXPECT_THAT(supplyPort.setup, IsEmpty());
    OnTraceFile(nullptr);
}

TEST_F(HostileIniTest, ABadMonitoringKeyStopsTheStartUpBeforeAnyPortOpens) {
    bool started = false;
    OnMonitoring([&](const MonitoringSettings&) { started = true; });
    folder.Write("kestrane.ini",
                 "[Communications]\nPowerSupplyPort=2\n[Monitoring]\n"
                 "MqttHost=broker.lab\nMqttPort=1883x\n");
    ExpectRefused(
        "kestrane.ini: [Monitoring] MqttPort = '1883x' is not a port number; give a "
        "whole number from 1 to 65535");
    EXPECT_FALSE(started);
    folder.Write("kestrane.ini",
                 "[Communications]\nPowerSupplyPort=0\nShutterPort=0\n"
                 "[Monitoring]\nMqttHost=broker.lab\n");
    ASSERT_TRUE(LoadConfiguration(errorText)) << errorText;
    EXPECT_TRUE(started);
    OnMonitoring(nullptr);
}

// The trace may only ever append to a trace: never to the settings, a log
// or a log's name to come, and never through a FIFO's blocking open.
TEST_F(HostileIniTest, ATraceFileThatIsNotATraceIsRefusedBeforeAnythingOpens) {
    bool started = false;
    OnTraceFile([&](const std::string&, std::string&) { return started = true; });
    const std::string ini = "[Communications]\nPowerSupplyPort=2\nShutterPort=0\n[Diagnostics]\n";
    const std::string trace = "2026-12-08 03:07:09.412 /dev/ttyUSB0 > OPEN<CR>\n";
    struct Case {
        const char* traceFile;
        const char* existing;  // a file made first, or nullptr
        const char* content;
        const char* refusal;  // nullptr: accepted
    };
    const Case cases[] = {
        {"kestrane.ini", nullptr, "", "is the settings file itself"},
        {"./kestrane.ini", nullptr, "", "is the settings file itself"},
        {"cycle_log1.txt", nullptr, "", "is a test log's name"},
        {"PowerCut_Log7.TXT", nullptr, "", "is a test log's name"},
        {"notes.txt", "notes.txt", "lab notes\n", "holds something other than a wire trace"},
        {"sub", "sub/x", "", "is a folder"},
        {"wire.txt", "wire.2.txt", "lab notes\n", "would rotate into wire.2.txt, which holds"},
        {"wire.txt", nullptr, "", nullptr},
        {"wire.txt", "wire.txt", "", nullptr},
        {"wire.txt", "wire.txt", trace.c_str(), nullptr},
        {"wire", "wire.1", trace.c_str(), nullptr},
    };
    for (const Case& c : cases) {
        folder.Write("kestrane.ini", ini + "TraceFile=" + c.traceFile + "\n");
        if (c.existing != nullptr) {
            std::filesystem::create_directories(
                std::filesystem::path(c.existing).parent_path().empty()
                    ? "."
                    : std::filesystem::path(c.existing).parent_path());
            folder.Write(c.existing, c.content);
        }
        const std::string before = folder.Read("kestrane.ini");
        started = false;
        supplyPort.setup.clear();
        const bool loaded = LoadConfiguration(errorText);
        if (c.refusal == nullptr) {
            EXPECT_TRUE(loaded) << c.traceFile << ": " << errorText;
            EXPECT_TRUE(started) << c.traceFile;
        } else {
            EXPECT_FALSE(loaded) << c.traceFile;
            EXPECT_FALSE(started) << c.traceFile;
            EXPECT_THAT(supplyPort.setup, IsEmpty()) << c.traceFile;
            EXPECT_EQ(errorText.rfind("kestrane.ini: [Diagnostics] TraceFile = '" +
                                          std::string(c.traceFile) + "' " + c.refusal,
                                      0),
                      0u)
                << errorText;
        }
        EXPECT_EQ(folder.Read("kestrane.ini"), before);
        std::filesystem::remove_all("sub");
        for (const char* name : {"wire.txt", "wire.2.txt", "wire.1", "notes.txt"}) {
            std::filesystem::remove(name);
        }
    }
#ifndef _WIN32
    ASSERT_EQ(::mkfifo("pipe.txt", 0600), 0);  // opening it would block for good
    folder.Write("kestrane.ini", ini + "TraceFile=pipe.txt\n");
    EXPECT_FALSE(LoadConfiguration(errorText));
    EXPECT_EQ(errorText.rfind("kestrane.ini: [Diagnostics] TraceFile = 'pipe.txt' is a named pipe "
                              "(FIFO) (in " +
                                  folder.path() + "); name a file of its own",
                              0),
              0u)
        << errorText;
#endif
    OnTraceFile(nullptr);
}

}  // namespace
}  // namespace varnholt

// One table of kestrane.ini texts and what the start-up makes of them, run
// on Linux (inih) and on Windows (the private-profile functions): a
// difference between the two readers fails here.
#include <gtest/gtest.h>

#include "settings/ini_file.h"
#include "settings/kestrane_ini.h"
#include "settings/serial_devices.h"
#include "tests/support/temp_dir.h"

namespace varnholt {
namespace {

struct IniCase {
    const char* name;
    std::string text;
    // Accepted: the values; refused: the start of the sentence.
    int32_t sampleTicks = 20, powerOffTicks = 20;
    int16_t supplyPort = -1, shutterPort = -1;
    std::string port1;  // [SerialDevices] Port1, empty when unmapped
    std::string refusal;
    std::string traceFile = "";  // [Diagnostics] TraceFile
};

IniCase Accepted(const char* name, std::string text, int32_t sample, int32_t off, int16_t supply,
                 int16_t shutter, std::string port1 = "") {
    return {name, std::move(text), sample, off, supply, shutter, std::move(port1), ""};
}
IniCase Refused(const char* name, std::string text, std::string refusal) {
    return {name, std::move(text), 20, 20, -1, -1, "", std::move(refusal)};
}

const IniCase kCases[] = {
    Accepted("ReadmeExampleWithInlineComments",
             "[TestPeriods]\r\nSampleTimePeriod=3      ; seconds held open\r\n"
             "PowerOffPeriod=4        ; seconds off\r\n\r\n[Communications]\r\n"
             "PowerSupplyPort=2       ; 0 = no power supply\r\nShutterPort=1  ; 0 = no shutter\r\n"
             "[SerialDevices]\r\nPort1=/dev/serial/by-id/usb-x   ; the shutter\r\n",
             30, 40, 2, 1, "/dev/serial/by-id/usb-x"),
    Accepted("NamesInAnyCaseAndBlanksAround",
             "[testperiods]\n  SAMPLETIMEPERIOD =  0  \n[COMMUNICATIONS]\npowersupplyport= +7\n", 0,
             20, 7, -1),
    Accepted("MissingSectionsAndKeysGiveDefaults", "; only a comment\n# and another\n", 20, 20, -1,
             -1),
    Accepted("SemicolonWithoutABlankBeforeItIsPartOfTheValue", "[SerialDevices]\nPort1=COM3;x\n",
             20, 20, -1, -1, "COM3;x"),
    Accepted("ComPortNames", "[Communications]\nShutterPort=12\n[SerialDevices]\nPort1=COM12\n", 20,
             20, -1, 12, "COM12"),
    Refused("UnitsAreNotNumbers", "[TestPeriods]\nSampleTimePeriod=2s\n",
            "kestrane.ini: [TestPeriods] SampleTimePeriod = '2s' is not a whole number"),
    Refused("EmptyValue", "[Communications]\nShutterPort=\n",
            "kestrane.ini: [Communications] ShutterPort = '' is not a whole number"),
    Refused("SectionWithoutItsBracket", "[Communications\nShutterPort=0\n",
            "kestrane.ini line 1 '[Communications' is not understood: the section name has no "
            "closing ']'."),
    Refused("LineWithoutEquals", "[Communications]\nShutterPort 0\n",
            "kestrane.ini line 2 'ShutterPort 0' is not understood: it is neither"),
    Refused("ColonInsteadOfEquals", "[Communications]\nShutterPort: 0\n",
            "kestrane.ini line 2 'ShutterPort: 0' is not understood: it is neither"),
    // Leading blanks are nothing on both readers: no continuation lines.
    Accepted("IndentedKeysAfterAKey",
             "[Communications]\nPowerSupplyPort=0\n  ShutterPort=0\n\tshutterport2=5\n", 20, 20, 0,
             0),
    {"IndentedSectionIsASection",
     "[SerialDevices]\nPort9=/dev/null\n  [Diagnostics]\nTraceFile=trace.txt\n", 20, 20, -1, -1, "",
     "", "trace.txt"},
    Accepted("ByteOrderMarkIsReadPast",
             "\xEF\xBB\xBF[TestPeriods]\r\nSampleTimePeriod=3\r\n[Communications]\r\n"
             "PowerSupplyPort=2\r\n",
             30, 20, 2, -1),
    Accepted("CarriageReturnsAloneEndLines",
             "[Communications]\rPowerSupplyPort=2\rShutterPort=1\r[SerialDevices]\rPort1=COM3\r",
             20, 20, 2, 1, "COM3"),

    Refused("KeyGivenTwice", "[Communications]\nShutterPort=1\nshutterport=2\n",
            "kestrane.ini line 3 'shutterport=2' is not understood: shutterport is given a "
            "second time in this section; keep one."),
};

void PrintTo(const IniCase& c, std::ostream* os) { *os << c.name; }

class IniTable : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniTable, BothReadersAgree) {
    const IniCase& c = GetParam();
    testing::WorkingFolder folder;
    folder.Write("kestrane.ini", c.text);
    IniFile ini;
    std::string errorText;
    std::optional<BenchSettings> settings;
    if (ReadIniFile("kestrane.ini", ini, errorText)) settings = ReadBenchSettings(ini, errorText);
    if (!c.refusal.empty()) {
        EXPECT_FALSE(settings);
        EXPECT_EQ(errorText.rfind(c.refusal, 0), 0u) << errorText;
        return;
    }
    ASSERT_TRUE(settings) << errorText;
    EXPECT_EQ(settings->sampleTimeTicks, c.sampleTicks);
    EXPECT_EQ(settings->powerOffTicks, c.powerOffTicks);
    EXPECT_EQ(settings->powerSupplyPort, c.supplyPort);
    EXPECT_EQ(settings->shutterPort, c.shutterPort);
    EXPECT_EQ(ini.Section("SerialDevices")["port1"], c.port1);
    EXPECT_EQ(settings->traceFile, c.traceFile);
}

INSTANTIATE_TEST_SUITE_P(KestraneIni, IniTable, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace varnholt

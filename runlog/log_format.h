#pragma once

// The test logs' format, written (log_writer) and read (log_reader)
// from these definitions only:
//
//   Shutter Cycle Test                       (or Shutter Power Cut Test)
//   Started on 12/8/2026 at 3:07:09 PM
//
//   Count<TAB>Status<TAB>Time<TAB>Error
//   1<TAB>SUCCESS<TAB>3:07:14 PM<TAB>NONE
//
// Every line ends CR LF. The Error column shows control characters inside a
// device's reply as <TAB>, <CR>, <LF>, <XX>, and keeps the reply's own final
// line end, so a supply's FAILURE row is followed by an empty line.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace varnholt {

enum class TestLogKind { CycleTest, PowerCutTest };

struct LogKindNames {
    const char* prefix;       // cycle_log
    const char* title;        // the header's first line
    const char* description;  // for sentences: "cycle test"
    const char* json;         // the report's name: "cycle"
};
const LogKindNames& NamesOf(TestLogKind kind);

constexpr char kLogLineEnd[] = "\r\n";
constexpr char kLogStartedOn[] = "Started on ";
constexpr char kLogStartedAt[] = " at ";
constexpr char kLogColumns[] = "Count\tStatus\tTime\tError";
constexpr char kLogSuccess[] = "SUCCESS";
constexpr char kLogFailure[] = "FAILURE";
constexpr char kLogExtension[] = ".txt";
// The companion of move times beside each log: cycle_log3-moves.tsv.
constexpr char kMovesSuffix[] = "-moves.tsv";
constexpr char kMovesColumns[] = "Count\tOpen ms\tClose ms";

// The forms every log uses, whatever the machine's locale: 12/8/2026, 3:07:09 PM.
std::string LogDateText(const std::tm& when);
std::string LogTimeText(const std::tm& when);

// The four header lines, each with its line end.
std::string LogHeaderText(TestLogKind kind, const std::tm& started);
std::string LogRowText(int64_t count, const std::string& status, const std::tm& when,
                       const std::string& errorText);

// The error column as it goes into a row: TAB, CR, LF, NUL and the other
// control characters inside the text are written as <TAB>, <CR>, <LF>, <00>,
// <1B> ..., so that a row always has four fields on one line; a final line
// end (CR LF, LF or CR), the device's own, stays as received.
std::string LogFieldText(const std::string& text);

// cycle_log<N>.txt or powercut_log<N>.txt, case ignored: a name the
// numbering reads or a new log may take. kind, when given, receives which.
bool IsTestLogName(std::string_view fileName, TestLogKind* kind = nullptr);
// The number in a log's name (0 without one), for ordering.
int64_t TestLogNumber(std::string_view fileName);
// cycle_log3.txt -> cycle_log3-moves.tsv
std::string MovesFileName(const std::string& logFileName);

// A local date and time without a zone, as the logs carry them, counted in
// seconds from 1970-01-01 00:00:00 of the same calendar.
int64_t LocalSeconds(int year, int month, int day, int secondsOfDay);
int64_t LocalSecondsOf(const std::tm& when);
int SecondOfDay(const std::tm& when);
// 2026-12-08T15:07:09
std::string IsoLocalText(int64_t localSeconds);

// The dates of rows, which carry only a time of day: a row is on the date of
// the row before it (the first row: of the start), one day on when its time
// is earlier than that row's. A step back of less than 12 hours is more
// likely a clock set back than a midnight; it is read the same way, but told.
class RowDates {
public:
    void Start(int64_t startedLocalSeconds);
    // Inline: called once for every row of every log.
    int64_t Next(int secondOfDay, bool* smallStepBack = nullptr) {
        constexpr int kMidnightStep = 12 * 3600;
        int64_t when = last_ - lastSecondOfDay_ + secondOfDay;
        bool back = false;
        if (secondOfDay < lastSecondOfDay_) {
            when += 86400;
            back = lastSecondOfDay_ - secondOfDay < kMidnightStep;
        }
        if (smallStepBack != nullptr) *smallStepBack = back;
        last_ = when;
        lastSecondOfDay_ = secondOfDay;
        return when;
    }

private:
    int64_t last_ = 0;
    int lastSecondOfDay_ = 0;
};

// Parsers of the two forms; false for anything else (hour 1 to 12, AM or PM,
// a real calendar date).
bool ParseLogDate(std::string_view text, int& year, int& month, int& day);
// Read once for every row of every log: "h:mm:ss AM" or "hh:mm:ss PM", by
// position rather than by search.
inline bool ParseLogTime(std::string_view text, int& secondsOfDay) {
    const size_t n = text.size();
    if (n != 10 && n != 11) return false;
    const char* c = text.data();
    const auto digit = [](char ch) { return ch >= '0' && ch <= '9'; };
    int hour;
    if (n == 10) {
        if (!digit(c[0])) return false;
        hour = c[0] - '0';
    } else {
        if (!digit(c[0]) || !digit(c[1])) return false;
        hour = (c[0] - '0') * 10 + (c[1] - '0');
    }
    const char* m = c + (n - 9);  // ":mm:ss AM"
    if (m[0] != ':' || !digit(m[1]) || !digit(m[2]) || m[3] != ':' || !digit(m[4]) ||
        !digit(m[5]) || m[6] != ' ' || (m[7] != 'A' && m[7] != 'P') || m[8] != 'M') {
        return false;
    }
    const int minute = (m[1] - '0') * 10 + (m[2] - '0');
    const int second = (m[4] - '0') * 10 + (m[5] - '0');
    if (hour < 1 || hour > 12 || minute > 59 || second > 59) return false;
    secondsOfDay = (hour % 12 + (m[7] == 'P' ? 12 : 0)) * 3600 + minute * 60 + second;
    return true;
}

}  // namespace varnholt

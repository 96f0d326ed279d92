#include "runlog/log_format.h"

#include <cstdio>

namespace varnholt {
namespace {

constexpr LogKindNames kCycle{"cycle_log", "Shutter Cycle Test", "cycle test", "cycle"};
constexpr LogKindNames kPowerCut{"powercut_log", "Shutter Power Cut Test", "power cut test",
                                 "powercut"};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (Lower(text[i]) != prefix[i]) return false;
    }
    return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool Digit(char c) { return c >= '0' && c <= '9'; }

// 1 or 2 digits (or exactly `exact` when given) from pos; advances pos.
bool Number(std::string_view text, size_t& pos, int minDigits, int maxDigits, int& value) {
    value = 0;
    int digits = 0;
    while (pos < text.size() && Digit(text[pos]) && digits < maxDigits) {
        value = value * 10 + (text[pos++] - '0');
        ++digits;
    }
    return digits >= minDigits;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant's
// days_from_civil).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

const LogKindNames& NamesOf(TestLogKind kind) {
    return kind == TestLogKind::CycleTest ? kCycle : kPowerCut;
}

std::string LogDateText(const std::tm& when) {
    return std::to_string(when.tm_mon + 1) + "/" + std::to_string(when.tm_mday) + "/" +
           std::to_string(when.tm_year + 1900);
}

std::string LogTimeText(const std::tm& when) {
    const int hour12 = when.tm_hour % 12 == 0 ? 12 : when.tm_hour % 12;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d %s", hour12, when.tm_min, when.tm_sec,
                  when.tm_hour < 12 ? "AM" : "PM");
    return text;
}

std::string LogHeaderText(TestLogKind kind, const std::tm& started) {
    return std::string(NamesOf(kind).title) + kLogLineEnd + kLogStartedOn + LogDateText(started) +
           kLogStartedAt + LogTimeText(started) + kLogLineEnd + kLogLineEnd + kLogColumns +
           kLogLineEnd;
}

std::string LogRowText(int64_t count, const std::string& status, const std::tm& when,
                       const std::string& errorText) {
    return std::to_string(count) + "\t" + status + "\t" + LogTimeText(when) + "\t" +
           LogFieldText(errorText) + kLogLineEnd;
}

std::string LogFieldText(const std::string& text) {
    size_t end = text.size();
    if (end >= 2 && text.compare(end - 2, 2, "\r\n") == 0)
        end -= 2;
    else if (end >= 1 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        end -= 1;
    std::string field;
    field.reserve(text.size());
    for (size_t i = 0; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t')
            field += "<TAB>";
        else if (byte == '\r')
            field += "<CR>";
        else if (byte == '\n')
            field += "<LF>";
        else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            field += hex;
        } else
            field.push_back(text[i]);
    }
    return field + text.substr(end);
}

bool IsTestLogName(std::string_view fileName, TestLogKind* kind) {
    for (const TestLogKind k : {TestLogKind::CycleTest, TestLogKind::PowerCutTest}) {
        const std::string_view prefix = NamesOf(k).prefix;
        if (fileName.size() >= prefix.size() + 4 && StartsWithNoCase(fileName, prefix) &&
            EndsWithNoCase(fileName, kLogExtension)) {
            if (kind != nullptr) *kind = k;
            return true;
        }
    }
    return false;
}

int64_t TestLogNumber(std::string_view fileName) {
    TestLogKind kind;
    if (!IsTestLogName(fileName, &kind)) return 0;
    size_t pos = std::string_view(NamesOf(kind).prefix).size();
    int64_t value = 0;
    while (pos < fileName.size() && Digit(fileName[pos]) && value < 1'000'000'000'000) {
        value = value * 10 + (fileName[pos++] - '0');
    }
    return value;
}

std::string MovesFileName(const std::string& logFileName) {
    const size_t dot = logFileName.rfind('.');
    return (dot == std::string::npos ? logFileName : logFileName.substr(0, dot)) + kMovesSuffix;
}

int64_t LocalSeconds(int year, int month, int day, int secondsOfDay) {
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           secondsOfDay;
}

int SecondOfDay(const std::tm& when) {
    return when.tm_hour * 3600 + when.tm_min * 60 + when.tm_sec;
}

int64_t LocalSecondsOf(const std::tm& when) {
    return LocalSeconds(when.tm_year + 1900, when.tm_mon + 1, when.tm_mday, SecondOfDay(when));
}

std::string IsoLocalText(int64_t localSeconds) {
    int64_t days = localSeconds / 86400;
    int64_t rest = localSeconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d", static_cast<long long>(y),
                  m, d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

void RowDates::Start(int64_t startedLocalSeconds) {
    last_ = startedLocalSeconds;
    lastSecondOfDay_ = static_cast<int>(((startedLocalSeconds % 86400) + 86400) % 86400);
}

bool ParseLogDate(std::string_view text, int& year, int& month, int& day) {
    size_t pos = 0;
    if (!Number(text, pos, 1, 2, month) || pos >= text.size() || text[pos++] != '/') return false;
    if (!Number(text, pos, 1, 2, day) || pos >= text.size() || text[pos++] != '/') return false;
    if (!Number(text, pos, 4, 4, year) || pos != text.size()) return false;
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

}  // namespace varnholt

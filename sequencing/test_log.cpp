#include "sequencing/test_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "instruments/leading_number.h"
#include "sequencing/working_directory.h"

namespace varnholt {
namespace {

constexpr int32_t kHighestNumber = 32767;

struct KindInfo {
    const char* prefix;
    const char* title;
    const char* description;
};

KindInfo Info(TestLogKind kind) {
    if (kind == TestLogKind::CycleTest) {
        return {"cycle_log", "Shutter Cycle Test", "cycle test"};
    }
    return {"powercut_log", "Shutter Power Cut Test", "power cut test"};
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool MatchesPattern(const std::string& name, const std::string& prefix) {
    const std::string lower = Lower(name);
    const std::string suffix = ".txt";
    return lower.size() >= prefix.size() + suffix.size() && lower.rfind(prefix, 0) == 0 &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::tm Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// write() may take less than asked for; a row must go out whole.
bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool WriteDurably(TestLog& log, const std::string& text) {
    if (log.fd < 0) {
        log.problem = "the log " + log.fileName + " is not open";
        return false;
    }
    if (WriteAll(log.fd, text) && ::fdatasync(log.fd) == 0) return true;
    log.problem = "Cannot write to the log " + log.fileName + ": " + std::strerror(errno) +
                  "; free some disk space or start the program in another folder.";
    return false;
}

}  // namespace

int32_t NextTestLogNumber(const std::string& directory, TestLogKind kind) {
    const std::string prefix = Info(kind).prefix;
    int32_t largest = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        if (!MatchesPattern(name, prefix)) continue;
        const double value = std::nearbyint(LeadingNumber(name.substr(prefix.size())));
        // A number past the 16-bit limit leaves no number for a new log.
        const int32_t number =
            value >= kHighestNumber ? kHighestNumber : value < 0 ? 0 : static_cast<int32_t>(value);
        if (number > largest) largest = number;
    }
    return largest + 1;
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

bool TestLogCreate(TestLogKind kind, TestLog& log, std::string& errorText) {
    const KindInfo info = Info(kind);
    log = TestLog{};
    for (int32_t number = NextTestLogNumber(".", kind);; ++number) {
        if (number > kHighestNumber) {
            errorText = std::string("Cannot create a new ") + info.description + " log: " +
                        info.prefix + std::to_string(kHighestNumber) +
                        ".txt is the highest number a log can have; move the old " +
                        info.prefix + " files out of " + WorkingDirectory() + ".";
            return false;
        }
        const std::string name = info.prefix + std::to_string(number) + ".txt";
        // O_EXCL: an existing log is never overwritten, whatever the listing said.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            errorText = std::string("Cannot create the ") + info.description + " log " + name +
                        " in " + WorkingDirectory() + ": " + std::strerror(errno) +
                        "; make the folder writable or start the program in another folder.";
            return false;
        }
        log.fd = fd;
        log.fileName = name;
        break;
    }
    const std::tm now = Now();
    const std::string header = std::string(info.title) + "\r\nStarted on " + LogDateText(now) +
                               " at " + LogTimeText(now) + "\r\n\r\nCount\tStatus\tTime\tError\r\n";
    if (!WriteDurably(log, header)) {
        errorText = log.problem;
        TestLogClose(log);
        return false;
    }
    errorText.clear();
    return true;
}

bool TestLogWriteRow(TestLog& log, int64_t count, const std::string& status,
                     const std::string& errorText) {
    return WriteDurably(log, std::to_string(count) + "\t" + status + "\t" + LogTimeText(Now()) +
                                 "\t" + errorText + "\r\n");
}

void TestLogClose(TestLog& log) {
    if (log.fd >= 0) ::close(log.fd);
    log.fd = -1;
}

}  // namespace varnholt

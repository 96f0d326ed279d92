#include "sequencing/test_log.h"

#include <cmath>
#include <cstdio>
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

std::string WriteFailure(const TestLog& log, const FileFault& fault) {
    const std::string advice = fault.diskFull
        ? "; the disk is full: free some disk space or start the program in another folder."
        : "; check that the file and its folder can be written, or start the program in "
          "another folder.";
    return "Cannot write to the log " + log.fileName + " in " + WorkingDirectory() + ": " +
           fault.message + advice;
}

// A row goes in whole or not at all.
bool WriteWhole(TestLog& log, const std::string& text) {
    if (!log.file.IsOpen()) {
        log.problem = "the log " + log.fileName + " is not open";
        return false;
    }
    FileFault fault;
    if (AppendDurably(log.file, text, fault)) {
        log.size += text.size();
        return true;
    }
    log.problem = WriteFailure(log, fault);
    if (!TruncateFile(log.file, log.size)) {
        log.problem += " The last row of " + log.fileName + " may be incomplete.";
    }
    return false;
}

std::string Hex(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "<%02X>", byte);
    return text;
}

}  // namespace

bool IsTestLogName(const std::string& fileName) {
    return MatchesPattern(fileName, Info(TestLogKind::CycleTest).prefix) ||
           MatchesPattern(fileName, Info(TestLogKind::PowerCutTest).prefix);
}

int32_t NextTestLogNumber(const std::string& directory, TestLogKind kind, std::string* holder) {
    const std::string prefix = Info(kind).prefix;
    int32_t largest = 0;
    double largestValue = 0;
    std::string largestName;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || IsHiddenFile(it->path().string())) continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        if (!MatchesPattern(name, prefix)) continue;
        const double value = std::nearbyint(LeadingNumber(name.substr(prefix.size())));
        // A number past the 16-bit limit leaves no number for a new log.
        const int32_t number =
            value >= kHighestNumber ? kHighestNumber : value < 0 ? 0 : static_cast<int32_t>(value);
        // Past the limit the file with the larger number names the culprit;
        // the name breaks a tie so that the sentence does not depend on the
        // listing's order.
        if (number > largest || (number == largest && number > 0 &&
                                 (value > largestValue ||
                                  (value == largestValue && name < largestName)))) {
            largest = number;
            largestValue = value;
            largestName = name;
        }
    }
    if (holder != nullptr) *holder = largestName;
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
    std::string holder;
    for (int32_t number = NextTestLogNumber(".", kind, &holder);; ++number) {
        if (number > kHighestNumber) {
            if (holder.empty()) holder = info.prefix + std::to_string(kHighestNumber) + ".txt";
            errorText = std::string("Cannot create a new ") + info.description + " log: " +
                        holder + " carries the number " + std::to_string(kHighestNumber) +
                        " or more, the highest a log can have; move the old " + info.prefix +
                        " files out of " + WorkingDirectory() + ".";
            return false;
        }
        const std::string name = info.prefix + std::to_string(number) + ".txt";
        FileFault fault;
        const CreateOutcome outcome = CreateNewFile(name, log.file, fault);
        if (outcome == CreateOutcome::NameTaken) {
            holder = name;
            continue;
        }
        if (outcome == CreateOutcome::Failed) {
            errorText = std::string("Cannot create the ") + info.description + " log " + name +
                        " in " + WorkingDirectory() + ": " + fault.message +
                        "; make the folder writable or start the program in another folder.";
            return false;
        }
        log.fileName = name;
        break;
    }
    const std::tm now = LocalTimeNow();
    const std::string header = std::string(info.title) + "\r\nStarted on " + LogDateText(now) +
                               " at " + LogTimeText(now) + "\r\n\r\nCount\tStatus\tTime\tError\r\n";
    if (!WriteWhole(log, header)) {
        // A log without its header is no log: take the file away again.
        errorText = log.problem;
        TestLogClose(log);
        RemoveFile(log.fileName);
        return false;
    }
    errorText.clear();
    return true;
}

std::string LogFieldText(const std::string& text) {
    size_t end = text.size();
    if (end >= 2 && text.compare(end - 2, 2, "\r\n") == 0) end -= 2;
    else if (end >= 1 && (text[end - 1] == '\n' || text[end - 1] == '\r')) end -= 1;
    std::string field;
    field.reserve(text.size());
    for (size_t i = 0; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t') field += "<TAB>";
        else if (byte == '\r') field += "<CR>";
        else if (byte == '\n') field += "<LF>";
        else if (byte < 0x20 || byte == 0x7F) field += Hex(byte);
        else field.push_back(text[i]);
    }
    return field + text.substr(end);
}

bool TestLogWriteRow(TestLog& log, int64_t count, const std::string& status,
                     const std::string& errorText) {
    return WriteWhole(log, std::to_string(count) + "\t" + status + "\t" +
                               LogTimeText(LocalTimeNow()) + "\t" + LogFieldText(errorText) +
                               "\r\n");
}

void TestLogClose(TestLog& log) { CloseFile(log.file); }

}  // namespace varnholt

#include "runlog/log_writer.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "instruments/leading_number.h"
#include "runlog/working_directory.h"

namespace varnholt {
namespace {

constexpr int32_t kHighestNumber = 32767;

std::string WriteFailure(const std::string& fileName, const FileFault& fault) {
    const std::string advice =
        fault.diskFull
            ? "; the disk is full: free some disk space or start the program in another folder."
            : "; check that the file and its folder can be written, or start the program in "
              "another folder.";
    return "Cannot write to the log " + fileName + " in " + WorkingDirectory() + ": " +
           fault.message + advice;
}

// A row goes in whole or not at all.
bool WriteWhole(LogFile& file, uint64_t& size, const std::string& fileName, const std::string& text,
                std::string& problem, bool& diskFull) {
    if (!file.IsOpen()) {
        problem = "the log " + fileName + " is not open";
        return false;
    }
    FileFault fault;
    if (AppendDurably(file, text, fault)) {
        size += text.size();
        return true;
    }
    problem = WriteFailure(fileName, fault);
    diskFull = fault.diskFull;
    if (!TruncateFile(file, size)) {
        problem += " The last row of " + fileName + " may be incomplete.";
    }
    return false;
}

bool WriteWhole(TestLog& log, const std::string& text) {
    return WriteWhole(log.file, log.size, log.fileName, text, log.problem, log.diskFull);
}

std::string Milliseconds(int32_t ms) { return ms < 0 ? std::string() : std::to_string(ms); }

}  // namespace

int32_t NextTestLogNumber(const std::string& directory, TestLogKind kind, std::string* holder) {
    const std::string prefix = NamesOf(kind).prefix;
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
        TestLogKind found;
        if (!IsTestLogName(name, &found) || found != kind) continue;
        const double value = std::nearbyint(LeadingNumber(name.substr(prefix.size())));
        // A number past the 16-bit limit leaves no number for a new log.
        const int32_t number = value >= kHighestNumber ? kHighestNumber
                               : value < 0             ? 0
                                                       : static_cast<int32_t>(value);
        // Past the limit the file with the larger number names the culprit;
        // the name breaks a tie so that the sentence does not depend on the
        // listing's order.
        if (number > largest ||
            (number == largest && number > 0 &&
             (value > largestValue || (value == largestValue && name < largestName)))) {
            largest = number;
            largestValue = value;
            largestName = name;
        }
    }
    if (holder != nullptr) *holder = largestName;
    return largest + 1;
}

bool TestLogCreate(TestLogKind kind, TestLog& log, std::string& errorText) {
    const LogKindNames& info = NamesOf(kind);
    log = TestLog{};
    std::string holder;
    for (int32_t number = NextTestLogNumber(".", kind, &holder);; ++number) {
        if (number > kHighestNumber) {
            if (holder.empty()) holder = info.prefix + std::to_string(kHighestNumber) + ".txt";
            errorText = std::string("Cannot create a new ") + info.description + " log: " + holder +
                        " carries the number " + std::to_string(kHighestNumber) +
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
    log.startedUtc = static_cast<int64_t>(std::time(nullptr));
    const std::tm now = LocalTimeNow();
    log.started = now;
    log.lastRow = now;
    const std::string header = LogHeaderText(kind, now);
    if (!WriteWhole(log, header)) {
        // A log without its header is no log: take the file away again.
        errorText = log.problem;
        TestLogClose(log);
        RemoveFile(log.fileName);
        return false;
    }
    // A companion left from another log of this number is not overwritten.
    FileFault fault;
    const std::string movesName = MovesFileName(log.fileName);
    if (CreateNewFile(movesName, log.moves, fault) == CreateOutcome::Created) {
        std::string ignored;
        bool full = false;
        if (!WriteWhole(log.moves, log.movesSize, movesName,
                        std::string(kMovesColumns) + kLogLineEnd, ignored, full)) {
            CloseFile(log.moves);
        }
    }
    errorText.clear();
    return true;
}

bool TestLogWriteRow(TestLog& log, int64_t count, const std::string& status,
                     const std::string& errorText) {
    const std::tm now = LocalTimeNow();
    if (!WriteWhole(log, LogRowText(count, status, now, errorText))) return false;
    log.lastRow = now;
    return true;
}

void TestLogWriteMoves(TestLog& log, int64_t count, int32_t openMs, int32_t closeMs) {
    if (!log.moves.IsOpen()) return;
    std::string ignored;
    bool full = false;
    if (!WriteWhole(log.moves, log.movesSize, MovesFileName(log.fileName),
                    std::to_string(count) + "\t" + Milliseconds(openMs) + "\t" +
                        Milliseconds(closeMs) + kLogLineEnd,
                    ignored, full)) {
        CloseFile(log.moves);
    }
}

void TestLogClose(TestLog& log) {
    CloseFile(log.file);
    CloseFile(log.moves);
}

}  // namespace varnholt

namespace varnholt {

bool WriteFileWhole(const std::string& name, const std::string& text, bool replace,
                    FileFault& fault) {
    // Hidden, and never a log's name: the numbering passes it over.
    const size_t slash = name.rfind('/');
    const std::string temp = slash == std::string::npos ? "." + name + ".tmp"
                                                        : name.substr(0, slash + 1) + "." +
                                                              name.substr(slash + 1) + ".tmp";
    RemoveFile(temp);  // left by a crash
    LogFile file;
    if (CreateNewFile(temp, file, fault) != CreateOutcome::Created) return false;
    const bool written = AppendDurably(file, text, fault);
    CloseFile(file);
    if (!written || !PublishFile(temp, name, replace, fault)) {
        RemoveFile(temp);
        return false;
    }
    return true;
}

void TestLogStartRecord(TestLog& log, RunRecord record) {
    record.log = log.fileName;
    record.startedUtc = log.startedUtc;
    // The header's local time less UTC, to the minute.
    const int64_t offset = LocalSecondsOf(log.started) - log.startedUtc;
    record.utcOffsetMinutes = static_cast<int>((offset + (offset < 0 ? -30 : 30)) / 60);
    record.ended.reset();
    record.endedUtc.reset();
    record.lastCount = 0;
    log.record = std::move(record);
    FileFault fault;
    log.recordKept =
        WriteFileWhole(RunRecordName(log.fileName), RunRecordJson(log.record), false, fault);
}

void TestLogEndRecord(TestLog& log, const std::string& ended, int64_t lastCount) {
    if (!log.recordKept) return;
    log.record.ended = ended;
    log.record.endedUtc = static_cast<int64_t>(std::time(nullptr));
    log.record.lastCount = lastCount;
    FileFault fault;
    WriteFileWhole(RunRecordName(log.fileName), RunRecordJson(log.record), true, fault);
}

}  // namespace varnholt

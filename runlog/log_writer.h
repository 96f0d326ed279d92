#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "runlog/log_file.h"
#include "runlog/log_format.h"
#include "runlog/run_record.h"

namespace varnholt {

// One run's log file. Every row is on disk when TestLogWriteRow returns, and
// a row that cannot be written whole is taken back out: the file stays a
// well-formed log.
struct TestLog {
    LogFile file;
    uint64_t size = 0;  // bytes written whole
    std::string fileName;
    std::string problem;  // why the last write failed, for the operator
    std::tm started{};    // the header's date and time
    std::tm lastRow{};    // the time of the row written last
    // The companion of move times (cycle_log3-moves.tsv), written the same
    // way; closed for good when it cannot be made or written, as the log
    // matters more.
    LogFile moves;
    uint64_t movesSize = 0;
    int64_t startedUtc = 0;  // the header's time, seconds since 1970 UTC
    bool diskFull = false;   // the last write failed for want of space
    // The run record beside the log (cycle_log3-run.json), kept only when
    // this run made it.
    RunRecord record;
    bool recordKept = false;
};

// Creates the next numbered log in the working directory and writes its
// header. Never touches an existing file; on failure nothing is left behind
// and errorText says which file could not be made and why.
bool TestLogCreate(TestLogKind kind, TestLog& log, std::string& errorText);
bool TestLogWriteRow(TestLog& log, int64_t count, const std::string& status,
                     const std::string& errorText);
// A row of the companion: -1 for a move that did not happen or complete.
void TestLogWriteMoves(TestLog& log, int64_t count, int32_t openMs, int32_t closeMs);
void TestLogClose(TestLog& log);

// The run record: made when the run starts (never over a file already there;
// that run then has none) and written again, whole, when it ends. Each write
// goes to a temporary file, is synced and renamed over, so a crash leaves the
// old record or the new one.
void TestLogStartRecord(TestLog& log, RunRecord record);
void TestLogEndRecord(TestLog& log, const std::string& ended, int64_t lastCount);

// Writes name whole through a temporary file (see above); false, with
// fault, when it could not, or when !replace and name exists.
bool WriteFileWhole(const std::string& name, const std::string& text, bool replace,
                    FileFault& fault);

// One above the highest number among the kind's logs in directory; more than
// 32767 when no number is left. holder, when given, receives the name of the
// file that carries the highest number.
int32_t NextTestLogNumber(const std::string& directory, TestLogKind kind,
                          std::string* holder = nullptr);

}  // namespace varnholt

#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "sequencing/log_file.h"

namespace varnholt {

enum class TestLogKind { CycleTest, PowerCutTest };

// One run's log file. Every row is on disk when TestLogWriteRow returns, and
// a row that cannot be written whole is taken back out: the file stays a
// well-formed log.
struct TestLog {
    LogFile file;
    uint64_t size = 0;  // bytes written whole
    std::string fileName;
    std::string problem;  // why the last write failed, for the operator
};

// Creates the next numbered log in the working directory and writes its
// header. Never touches an existing file; on failure nothing is left behind
// and errorText says which file could not be made and why.
bool TestLogCreate(TestLogKind kind, TestLog& log, std::string& errorText);
bool TestLogWriteRow(TestLog& log, int64_t count, const std::string& status,
                     const std::string& errorText);
void TestLogClose(TestLog& log);

// One above the highest number among the kind's logs in directory; more than
// 32767 when no number is left. holder, when given, receives the name of the
// file that carries the highest number.
int32_t NextTestLogNumber(const std::string& directory, TestLogKind kind,
                          std::string* holder = nullptr);

// cycle_log<N>.txt or powercut_log<N>.txt, case ignored: a name the
// numbering reads or a new log may take.
bool IsTestLogName(const std::string& fileName);

// The error column as it goes into a row: TAB, CR, LF, NUL and the other
// control characters inside the text are written as <TAB>, <CR>, <LF>, <00>,
// <1B> ..., so that a row always has four fields on one line; a final line
// end (CR LF, LF or CR), the device's own, stays as received.
std::string LogFieldText(const std::string& text);

// The forms every log uses, whatever the machine's locale: 12/8/2026, 3:07:09 PM.
std::string LogDateText(const std::tm& when);
std::string LogTimeText(const std::tm& when);

}  // namespace varnholt

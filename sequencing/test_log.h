#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace varnholt {

enum class TestLogKind { CycleTest, PowerCutTest };

// One run's log file. Every row is on disk when TestLogWriteRow returns.
struct TestLog {
    int fd = -1;
    std::string fileName;
    std::string problem;  // why the last write failed, for the operator
};

// Creates the next numbered log in the working directory and writes its
// header. Never touches an existing file; on failure errorText says which file
// could not be made and why.
bool TestLogCreate(TestLogKind kind, TestLog& log, std::string& errorText);
bool TestLogWriteRow(TestLog& log, int64_t count, const std::string& status,
                     const std::string& errorText);
void TestLogClose(TestLog& log);

// One above the highest number among the kind's logs in directory; more than
// 32767 when no number is left.
int32_t NextTestLogNumber(const std::string& directory, TestLogKind kind);

// The forms every log uses, whatever the machine's locale: 12/8/2026, 3:07:09 PM.
std::string LogDateText(const std::tm& when);
std::string LogTimeText(const std::tm& when);

}  // namespace varnholt

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnholt {

// What a log's rows do not say: which shutter ran, in which lot, when in UTC,
// and how the run ended. Kept beside the log as cycle_log3-run.json, written
// whole when the run starts and again when it ends.
struct RunRecord {
    std::string log;   // cycle_log3.txt
    std::string kind;  // "cycle" or "powercut"
    std::string unit, lot;
    int64_t startedUtc = 0;  // seconds since 1970 (UTC)
    int utcOffsetMinutes = 0;
    std::optional<int64_t> endedUtc;
    // null while running, or when the program was killed: "failure",
    // "line_dropped", "stopped", "closed", "signal", "disk_full",
    // "write_failed"; "unknown" for a record made afterwards for an old log.
    std::optional<std::string> ended;
    int64_t lastCount = 0;
    // What else helps to place the run; not needed to read it.
    std::string host;
    int32_t sampleTimeTicks = -1, powerOffTicks = -1;
    bool assignedLater = false;  // made by varnholt-report --assign-unit
    // What the reader doubted of a record it still read, as reasons ("its
    // unit name ... was not taken (...)"); never written.
    std::vector<std::string> notes;
};

inline constexpr int kRunRecordFormat = 1;
// Records larger than this are no record of ours.
inline constexpr uint64_t kRunRecordMaxBytes = 64 * 1024;

// Why a unit or lot name cannot be used, or empty: names are text, never
// paths, and go into records, MQTT messages and a command's arguments.
// what: "unit" or "lot".
std::string UnitNameProblem(const std::string& name, const char* what);

// cycle_log3.txt -> cycle_log3-run.json
std::string RunRecordName(const std::string& logFileName);

std::string RunRecordJson(const RunRecord& record);
// The record in text; nullopt with a sentence's reason ("it is not JSON ...").
std::optional<RunRecord> ParseRunRecord(const std::string& text, std::string& problem);

// ISO 8601 UTC text of seconds since 1970: 2026-12-08T14:07:09Z.
std::string UtcText(int64_t seconds);
bool ParseUtcText(const std::string& text, int64_t& seconds);
// A log header's local time (LocalSeconds) as UTC, read in this machine's
// time zone: for logs that have no record to say their offset.
int64_t UtcOfLocalSeconds(int64_t localSeconds);

}  // namespace varnholt

namespace varnholt {

// Where the record of the log at logPath lies: beside the file the path
// stands for, so a log reached through a link and directly has one record.
std::string RunRecordPathOf(const std::string& logPath);

// The record of the log at logPath, read from beside it. nullopt without a
// problem when there is none; with a problem (a sentence's reason) when the
// file is there but is no record of this log: then the log is read as if it
// had none. Only a plain file of at most kRunRecordMaxBytes is opened.
std::optional<RunRecord> ReadRunRecordOf(const std::string& logPath, std::string& problem);

// Every readable record in folder beside its log's name.
std::vector<RunRecord> RunRecordsIn(const std::string& folder);

// The readable record in folder that started last, to propose its unit and
// lot for the next run (a restart after the weekend keeps the shutter).
std::optional<RunRecord> NewestRunRecordIn(const std::string& folder);

}  // namespace varnholt

#include "report_program/assign_unit.h"

#include <ctime>
#include <filesystem>

#include "runlog/log_reader.h"
#include "runlog/log_writer.h"
#include "runlog/plain_file.h"
#include "runlog/run_record.h"

namespace varnholt {

bool AssignUnit(const std::string& logPath, const std::string& unit, const std::string& lot,
                std::string& sentence) {
    namespace fs = std::filesystem;
    const fs::path path(logPath);
    const std::string name = path.filename().string();
    const std::string recordPath = (path.parent_path() / RunRecordName(name)).string();
    if (!IsTestLogName(name)) {
        sentence = logPath +
                   " got no record: its name is not that of a log (cycle_log<N>.txt or "
                   "powercut_log<N>.txt).";
        return false;
    }
    std::error_code error;
    if (fs::symlink_status(recordPath, error).type() != fs::file_type::not_found) {
        sentence = logPath + " got no record: " + recordPath +
                   " is already there and was left "
                   "as it is.";
        return false;
    }
    // A log written in the last minute belongs to a run that goes on: a
    // record made now would stamp it as ended at the rows seen so far.
    constexpr int64_t kQuietSeconds = 60;
    FileStamp stamp;
    if (StampOf(logPath, stamp) &&
        static_cast<int64_t>(std::time(nullptr)) - stamp.modifiedUnix < kQuietSeconds) {
        sentence = logPath +
                   " got no record: it is still being written; assign it when its run has "
                   "ended.";
        return false;
    }
    LogReader reader;
    int64_t lastCount = 0;
    bool lastFailed = false;
    if (!reader.ReadAppended(logPath, [&](const LogRow& row) {
            lastCount = row.count;
            lastFailed = row.failure;
        })) {
        sentence = logPath + " got no record: " + reader.problem + ".";
        return false;
    }
    RunRecord record;
    record.log = name;
    record.kind = NamesOf(reader.kind).json;
    record.unit = unit;
    record.lot = lot;
    // The header holds local time only: read it in this machine's zone.
    record.startedUtc = UtcOfLocalSeconds(reader.started);
    record.utcOffsetMinutes = static_cast<int>((reader.started - record.startedUtc) / 60);
    record.ended = lastFailed ? "failure" : "unknown";
    record.lastCount = lastCount;
    record.assignedLater = true;
    FileFault fault;
    if (!WriteFileWhole(recordPath, RunRecordJson(record), false, fault)) {
        sentence = logPath + " got no record: " + recordPath + " could not be written (" +
                   fault.message + ").";
        return false;
    }
    sentence = recordPath + ": unit " + unit + (lot.empty() ? "" : ", lot " + lot) + ".";
    return true;
}

}  // namespace varnholt

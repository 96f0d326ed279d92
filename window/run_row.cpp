#include "window/run_row.h"

namespace varnholt {

RunRow::RunRow(const RunFigures& f)
    : kind(f.kind),
      endedByFailure(f.endedByFailure),
      hasRecord(f.hasRecord),
      recordEnded(f.recordEnded),
      started(f.started),
      cycles(f.cycles),
      failures(f.failures),
      shutterFailures(f.shutterFailures),
      benchFaults(f.benchFaults),
      benchFaultsBeforeFirstFailure(f.benchFaultsBeforeFirstFailure),
      logModifiedUnix(f.logModifiedUnix),
      lastRow(f.lastRow),
      startedUtc(f.startedUtc),
      firstFailureCycle(f.firstFailureCycle),
      mcbf(f.mcbf),
      mcbfLower90(f.mcbfLower90),
      hasEnded(f.ended.has_value()) {
    texts_.reserve(f.file.size() + f.unit.size() + f.lot.size() + (f.ended ? f.ended->size() : 0));
    texts_ += f.file;
    fileEnd_ = static_cast<uint32_t>(texts_.size());
    texts_ += f.unit;
    unitEnd_ = static_cast<uint32_t>(texts_.size());
    texts_ += f.lot;
    lotEnd_ = static_cast<uint32_t>(texts_.size());
    if (f.ended) texts_ += *f.ended;
}

RunFigures RunRow::Figures(const std::string& folder) const {
    RunFigures f;
    f.file = std::string(file());
    f.folder = folder;
    f.unit = std::string(unit());
    f.lot = std::string(lot());
    if (const auto word = ended()) f.ended = std::string(*word);
    f.kind = kind;
    f.endedByFailure = endedByFailure;
    f.hasRecord = hasRecord;
    f.recordEnded = recordEnded;
    f.started = started;
    f.cycles = cycles;
    f.failures = failures;
    f.shutterFailures = shutterFailures;
    f.benchFaults = benchFaults;
    f.benchFaultsBeforeFirstFailure = benchFaultsBeforeFirstFailure;
    f.logModifiedUnix = logModifiedUnix;
    f.lastRow = lastRow;
    f.startedUtc = startedUtc;
    f.firstFailureCycle = firstFailureCycle;
    f.mcbf = mcbf;
    f.mcbfLower90 = mcbfLower90;
    return f;
}

}  // namespace varnholt

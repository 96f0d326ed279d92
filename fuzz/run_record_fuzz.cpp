// The run-record reader on any bytes: it never crashes, hangs or takes a
// name the window would refuse, and what it read, written and read again, is
// the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runlog/run_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string problem;
    const auto record = varnholt::ParseRunRecord(text, problem);
    if (!record) {
        if (problem.empty()) std::abort();  // every refusal has its reason
        return 0;
    }
    if (!varnholt::UnitNameProblem(record->unit, "unit").empty() ||
        !varnholt::UnitNameProblem(record->lot, "lot").empty()) {
        std::abort();
    }
    const auto again = varnholt::ParseRunRecord(varnholt::RunRecordJson(*record), problem);
    if (!again || again->log != record->log || again->kind != record->kind ||
        again->unit != record->unit || again->lot != record->lot ||
        again->startedUtc != record->startedUtc ||
        again->utcOffsetMinutes != record->utcOffsetMinutes ||
        again->endedUtc != record->endedUtc || again->ended != record->ended ||
        again->lastCount != record->lastCount || again->host != record->host ||
        again->assignedLater != record->assignedLater) {
        std::abort();
    }
    return 0;
}

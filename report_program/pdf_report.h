#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "report/report.h"

namespace varnholt {

// A zero-failure demonstration the summary judges each lot by.
struct PdfPlan {
    double target = 0, reliability = 0.90, confidence = 0.90, beta = 2.0;
};

struct PdfOptions {
    bool runPages = false;         // a page of charts for each run
    std::optional<int64_t> since;  // LocalSeconds; the last 24 h of the newest run when none
    std::optional<PdfPlan> plan;
};

// The report a manager reads first and a reliability engineer trusts: a
// summary page (each lot's life in words, a small plot, the plan's verdict,
// each folder's recent runs and failures), then a page or more per lot, the
// run table and, when asked, each run's charts. Nothing is cut off a page:
// a table goes on over as many pages as it needs, its header repeated.
// False, with a sentence on stderr, when the file cannot be written.
bool WritePdf(const Report& report, const std::string& file, const PdfOptions& options);

// The start of the summary's window: the options' since, or 24 h before the
// newest run's last row.
int64_t SummarySince(const Report& report, const PdfOptions& options);

}  // namespace varnholt
